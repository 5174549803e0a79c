#pragma once

#include <chrono>
#include <functional>
#include <iosfwd>
#include <string>
#include <vector>

#include "transfer/ProgressView.h"

namespace batch {

// What the engine shows, on the error stream: every log line and message
// box as one line, and, when asked (a terminal watching), one progress line
// per table job, rewritten in place.
class Terminal : public transfer::ProgressView, public transfer::UserMessages {
public:
    // `stop` is asked after every row.
    Terminal(std::ostream& err, bool showProgress, std::function<bool()> stop);

    void setProgressText(const std::string&) override {}
    void setGaugeMaximum(int maximum) override;
    void stepGauge() override;
    void resetGauge() override;
    void processEvents() override {}
    void appendLog(const std::string& line) override;
    void tableJobStarting(const std::string& banco, const std::string& empresa, const std::string& table) override;
    bool stopRequested() const override { return stop_(); }
    // Without a progress line nothing shows the total: no counting pass.
    bool showsRowCount() const override { return showProgress_; }

    void information(const std::string& text) override { show(text); }
    void warning(const std::string& text) override;
    void error(const std::string& text) override;

    // The table job in hand as far as this view saw it: what is known of a
    // job that failed.
    struct Job {
        std::string banco;
        std::string empresa;
        std::string table;
        int read = 0;
        int failed = 0;
    };
    const Job& currentJob() const { return job_; }
    // Where the lines go.
    std::ostream& stream() const { return err_; }
    // Warning and error texts, in order, as shown.
    const std::vector<std::string>& messages() const { return messages_; }

private:
    using Clock = std::chrono::steady_clock;

    void show(const std::string& text);
    void draw();
    void erase();

    std::ostream& err_;
    bool showProgress_;
    std::function<bool()> stop_;
    Job job_;
    int total_ = -1;  // -1 until the rows are counted
    Clock::time_point copyStarted_;
    Clock::time_point lastDrawn_;
    bool lineShown_ = false;
    int jobNumber_ = 0;
    int lastWarningJob_ = -1;
    std::string lastWarning_;
    std::vector<std::string> messages_;
};

// The text on one line and safe for a terminal: line breaks inside a
// database message become blanks, other control characters are shown
// escaped (\t, \x1b, \u009b); bytes that are not UTF-8 are read as the
// window reads them.
std::string oneLine(const std::string& text);

}  // namespace batch
