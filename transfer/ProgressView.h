#pragma once

#include <string>

namespace transfer {

// What the copy loop shows while it runs. The window implements it with its
// label, gauge and log; tests implement it with a recorder. Texts are UTF-8.
class ProgressView {
public:
    virtual ~ProgressView() = default;

    // Sets the progress label and repaints it at once.
    virtual void setProgressText(const std::string& text) = 0;
    virtual void setGaugeMaximum(int maximum) = 0;
    // Adds one to the gauge position, never beyond its maximum.
    virtual void stepGauge() = 0;
    virtual void resetGauge() = 0;
    // Lets the event loop handle what is pending, then returns.
    virtual void processEvents() = 0;
    virtual void appendLog(const std::string& line) = 0;
    // A table job is about to attach to `banco` and copy the rows of
    // company `empresa` of `table`.
    virtual void tableJobStarting(const std::string& banco, const std::string& empresa, const std::string& table) {
        (void)banco;
        (void)empresa;
        (void)table;
    }
    // Asked once per row, after the row is finished: true ends the run
    // before the next row (the window is being closed).
    virtual bool stopRequested() const { return false; }
    // False for a view that shows no gauge: the copy then needs no counting
    // pass, and the branch select runs once per job instead of twice.
    virtual bool showsRowCount() const { return true; }
};

// The message boxes the engine shows. The window shows real modal boxes;
// tests record the texts. Texts are UTF-8.
class UserMessages {
public:
    virtual ~UserMessages() = default;
    virtual void information(const std::string& text) = 0;
    virtual void warning(const std::string& text) = 0;
    virtual void error(const std::string& text) = 0;
};

}  // namespace transfer
