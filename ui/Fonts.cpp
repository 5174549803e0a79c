#include "ui/Fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QString>

namespace ui {

void registerTahomaFallback() {
    if (QFontDatabase::families().contains(QStringLiteral("Tahoma"))) return;
    for (const char* file : {"/usr/share/wine/fonts/tahoma.ttf", "/usr/share/wine/fonts/tahomabd.ttf"}) {
        const QString path = QString::fromLatin1(file);
        if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
    }
}

}  // namespace ui
