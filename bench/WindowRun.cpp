#include "WindowRun.h"

#include "ui/BranchListModel.h"
#include "ui/Dialogs.h"
#include "ui/Main.h"
#include "ui/PanelButton.h"

#include <QCoreApplication>
#include <QTest>

#include <chrono>
#include <deque>
#include <stdexcept>

namespace bench {

namespace {

// Answers the window's dialogs: files from a queue, boxes recorded.
class ScriptedDialogs : public ui::Dialogs {
public:
    void information(const std::string& text) override { boxes.push_back(text); }
    void warning(const std::string& text) override { boxes.push_back(text); }
    void error(const std::string& text) override { boxes.push_back(text); }
    void failure(const QString& title, const QString& text) override {
        boxes.push_back((title + ": " + text).toStdString());
    }
    QString openFile() override {
        if (files.empty())
            return {};
        const QString file = files.front();
        files.pop_front();
        return file;
    }

    std::deque<QString> files;
    std::vector<std::string> boxes;
};

}  // namespace

WindowTally runWindow(const std::string& branch, const std::string& central, const std::vector<std::string>& codes) {
    auto owned = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs& dialogs = *owned;
    ui::TForm1 window(std::move(owned));
    window.show();
    QCoreApplication::processEvents();

    dialogs.files.push_back(QString::fromStdString(central));
    window.imgAbrirBdCentralClick();
    for (const std::string& code : codes)
        window.branchList().append(QString::fromStdString(branch), QString::fromStdString(code));

    auto* converter = window.findChild<ui::PanelPicture*>(QStringLiteral("imgConverter"));
    if (!converter)
        throw std::runtime_error("the window has no imgConverter picture");
    const auto start = std::chrono::steady_clock::now();
    QTest::mouseClick(converter, Qt::LeftButton);
    WindowTally tally;
    tally.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    for (const std::string& box : dialogs.boxes) {
        if (box == transfer::kSucesso)
            tally.succeeded = true;
        else
            tally.problems.push_back(box);
    }
    if (!tally.succeeded && tally.problems.empty())
        tally.problems.push_back("the run ended without a box");
    return tally;
}

}  // namespace bench
