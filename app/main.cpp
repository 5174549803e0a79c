#include "ui/Main.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/CloseOnTermination.h"
#include "db/ClientEnvironment.h"
#include "ui/Dialogs.h"
#include "ui/FailureText.h"
#include "ui/Fonts.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // After QApplication, which sets the locale from the environment, and
    // before anything reaches the database client.
    db::prepareClientEnvironment();
    ui::registerTahomaFallback();
    std::unique_ptr<ui::TForm1> window;
    try {
        window = std::make_unique<ui::TForm1>();
    } catch (const std::exception& failure) {
        // No window could be made: say why and end.
        QMessageBox::critical(nullptr, ui::applicationTitle(QCoreApplication::applicationFilePath()),
                              ui::failureText(QString::fromUtf8(failure.what())));
        return 1;
    }
    app::closeOnTermination(*window);
    window->show();
    return application.exec();
}
