#pragma once

#include <QString>

namespace ui {

// The application's title when the program sets none: the executable's file
// name without its folder, cut at its first full stop, every character
// after the first in lower case ("/opt/x/TAVOLENE.bin" gives "Tavolene").
QString applicationTitle(const QString& executablePath);

// The text of the failure box: the message, with a full stop appended when
// it is not empty and its last character's code is above that of the full
// stop, so "falhou!" and "(x)" stay as they are and "falhou" gets one.
QString failureText(const QString& message);

}  // namespace ui
