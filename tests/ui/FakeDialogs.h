#pragma once

// Answers the window's dialogs in the tests: the open-file dialog returns
// scripted paths, and every box is recorded instead of shown.

#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

#include "ui/Dialogs.h"

namespace uitest {

struct Box {
    QString kind;  // "information", "warning", "error" or "failure"
    QString title;
    QString text;
};

class FakeDialogs : public ui::Dialogs {
public:
    void information(const std::string& text) override { record("information", "Information", text); }
    void warning(const std::string& text) override { record("warning", "Warning", text); }
    void error(const std::string& text) override { record("error", "Error", text); }
    void failure(const QString& title, const QString& text) override {
        boxes.push_back({QStringLiteral("failure"), title, text});
        if (onBox) onBox(boxes.back());
    }

    // The next scripted answer; an empty answer, or none left, is a cancel.
    QString openFile() override {
        ++openFileCalls;
        return answers.isEmpty() ? QString() : answers.takeFirst();
    }

    QStringList texts(const QString& kind) const {
        QStringList found;
        for (const Box& box : boxes)
            if (box.kind == kind) found << box.text;
        return found;
    }

    QStringList answers;
    int openFileCalls = 0;
    std::vector<Box> boxes;
    std::function<void(const Box&)> onBox;

private:
    void record(const char* kind, const char* title, const std::string& text) {
        boxes.push_back({QString::fromLatin1(kind), QString::fromLatin1(title), QString::fromStdString(text)});
        if (onBox) onBox(boxes.back());
    }
};

}  // namespace uitest
