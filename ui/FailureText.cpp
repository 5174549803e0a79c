#include "ui/FailureText.h"

namespace ui {

QString applicationTitle(const QString& executablePath) {
    const qsizetype slash = executablePath.lastIndexOf(QLatin1Char('/'));
    QString title = executablePath.mid(slash + 1);
    const qsizetype stop = title.indexOf(QLatin1Char('.'));
    if (stop >= 0) title.truncate(stop);
    if (title.size() > 1) title = title.left(1) + title.mid(1).toLower();
    return title;
}

QString failureText(const QString& message) {
    if (!message.isEmpty() && message.back().unicode() > u'.') return message + QLatin1Char('.');
    return message;
}

}  // namespace ui
