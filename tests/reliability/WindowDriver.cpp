// The real window, offscreen, in a process of its own: the central database
// is chosen and the branches are added through their panels, the converter
// picture is clicked, and what the window shows is reported on stdout in
// the lines of ChildProcess.h.
//
//   tavolene_window_driver [--pause-after=N] CENTRAL [EMPRESA BRANCH]...

#include <QApplication>
#include <QComboBox>
#include <QStringList>
#include <QTest>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "Harness.h"
#include "app/CloseOnTermination.h"
#include "db/ClientEnvironment.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/PanelButton.h"

namespace {

using reliability::escapeLine;

void report(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class ReportingDialogs : public ui::Dialogs {
public:
    void information(const std::string& text) override { box("Information", text); }
    void warning(const std::string& text) override { box("Warning", text); }
    void error(const std::string& text) override { box("Error", text); }
    void failure(const QString&, const QString& text) override { report("FAILURE " + escapeLine(text.toStdString())); }
    QString openFile() override { return answers.isEmpty() ? QString() : answers.takeFirst(); }

    QStringList answers;

private:
    static void box(const char* kind, const std::string& text) {
        report(std::string("BOX ") + kind + " " + escapeLine(text));
    }
};

// The window, reporting every row it starts and able to stop before one.
class ReportingWindow : public ui::TForm1 {
public:
    ReportingWindow(std::unique_ptr<ui::Dialogs> dialogs, int pauseAfter)
        : TForm1(std::move(dialogs)), pauseAfter_(pauseAfter) {}

    void setProgressText(const std::string& text) override {
        TForm1::setProgressText(text);
        for (const std::string prefix : {"Integrando Documento: ", "Integrando Movimento: "}) {
            if (text.rfind(prefix, 0) != 0) continue;
            report("ROW " + escapeLine(text.substr(prefix.size())));
            if (++started_ == pauseAfter_) {
                report("PAUSED");
                std::string go;
                std::getline(std::cin, go);
            }
        }
    }

private:
    int pauseAfter_;
    int started_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    db::prepareClientEnvironment();  // as the window program starts
    int pauseAfter = 0;
    std::vector<std::string> positional;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.rfind("--pause-after=", 0) == 0)
            pauseAfter = std::stoi(argument.substr(14));
        else
            positional.push_back(argument);
    }
    if (positional.empty() || positional.size() % 2 != 1) {
        std::cerr << "usage: tavolene_window_driver [--pause-after=N] CENTRAL [EMPRESA BRANCH]...\n";
        return 2;
    }
    auto owned = std::make_unique<ReportingDialogs>();
    ReportingDialogs* dialogs = owned.get();
    ReportingWindow window(std::move(owned), pauseAfter);
    app::closeOnTermination(window);
    window.show();
    auto picture = [&](const char* name) { return window.findChild<ui::PanelPicture*>(QString::fromLatin1(name)); };

    dialogs->answers << QString::fromStdString(positional[0]);
    QTest::mouseClick(picture("imgAbrirBdCentral"), Qt::LeftButton);
    auto* empresa = window.findChild<QComboBox*>(QStringLiteral("cbEmpresa"));
    for (std::size_t i = 1; i + 1 < positional.size(); i += 2) {
        empresa->setCurrentIndex(empresa->findText(QString::fromStdString(positional[i])));
        dialogs->answers << QString::fromStdString(positional[i + 1]);
        QTest::mouseClick(picture("imgAbrirBdFilial"), Qt::LeftButton);
    }
    report("STARTED");
    QTest::mouseClick(picture("imgConverter"), Qt::LeftButton);
    report("END");
    return 0;
}
