#pragma once

#include <QString>

#include "transfer/ProgressView.h"

class QWidget;

namespace ui {

// Every modal dialog the window shows goes through here, so the window can
// be driven without a person answering: the three message boxes (titled
// "Information", "Warning" and "Error"), the box of the top-level failure
// handler and the open-file dialog.
class Dialogs : public transfer::UserMessages {
public:
    // A failure that escaped a command: error icon, titled `title`.
    virtual void failure(const QString& title, const QString& text) = 0;
    // The open-file dialog for Firebird files: the chosen path, or an empty
    // text when the user cancelled.
    virtual QString openFile() = 0;
};

// The real dialogs, modal over `parent`.
class QtDialogs final : public Dialogs {
public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}

    void information(const std::string& text) override;
    void warning(const std::string& text) override;
    void error(const std::string& text) override;
    void failure(const QString& title, const QString& text) override;
    QString openFile() override;

private:
    QWidget* parent_;
};

}  // namespace ui
