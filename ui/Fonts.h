#pragma once

namespace ui {

// The window is laid out in pixels for Tahoma. When the system has no
// Tahoma, registers the Tahoma-metric fonts that ship with Wine, if present.
void registerTahomaFallback();

}  // namespace ui
