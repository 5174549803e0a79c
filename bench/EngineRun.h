#pragma once

#include "transfer/ConversionRun.h"
#include "transfer/ProgressView.h"

#include <string>
#include <vector>

namespace bench {

// A progress view that shows nothing: the engine's own cost, with no
// screen behind it.
class SilentView : public transfer::ProgressView {
public:
    void setProgressText(const std::string&) override {}
    void setGaugeMaximum(int) override {}
    void stepGauge() override {}
    void resetGauge() override {}
    void processEvents() override {}
    void appendLog(const std::string& line) override { logLines.push_back(line); }

    std::vector<std::string> logLines;  // failed rows; the benchmark expects none
};

class RecordedMessages : public transfer::UserMessages {
public:
    void information(const std::string& text) override { texts.push_back(text); }
    void warning(const std::string& text) override { texts.push_back(text); }
    void error(const std::string& text) override { texts.push_back(text); }

    std::vector<std::string> texts;
};

struct EngineTally {
    long written = 0;
    long failed = 0;
    std::vector<std::string> problems;  // boxes shown and log lines written
};

// The engine headless: opens the central connection as the converter panel
// does, then runs the conversion over one entry per company code.
EngineTally runEngine(const std::string& branch, const std::string& central, const std::vector<std::string>& codes);

}  // namespace bench
