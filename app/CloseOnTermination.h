#pragma once

// SIGINT and SIGTERM (Ctrl+C, a logout, `kill`, `systemctl stop`) close the
// window as its close button does: a run stops after the row it is writing,
// then the window closes and the program ends. The window program and the
// test driver of the real window start the same way.

#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QWidget>

#include "db/ClientEnvironment.h"

namespace app {

inline void closeOnTermination(QWidget& window) {
    db::TerminationSignal::install();
    auto* notifier = new QSocketNotifier(db::TerminationSignal::readFd(), QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char drained[64];
        while (read(db::TerminationSignal::readFd(), drained, sizeof drained) > 0) {
        }
        // A message box or file dialog left open would keep the program
        // waiting for an answer that nobody is there to give.
        while (QWidget* modal = QApplication::activeModalWidget())
            if (!modal->close()) break;
        window.close();
    });
}

}  // namespace app
