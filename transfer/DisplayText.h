#pragma once

#include <string>
#include <string_view>

namespace transfer {

// Database text is bytes with no declared character set. For the screen it
// is read as UTF-8 when it is valid UTF-8, else as Windows-1252. The bytes
// written to the central database are never touched by this.
std::string displayText(std::string_view bytes);

}  // namespace transfer
