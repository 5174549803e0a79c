#include "batch/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "transfer/DisplayText.h"
#include "transfer/Tables.h"

namespace batch {

namespace {

// A terminal redrawn for every row would slow the copy it shows.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

std::string clockText(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

std::string oneLine(const std::string& text) {
    // Read as the window shows it first, so that stray bytes become
    // characters and every control character below is seen.
    const std::string shown = transfer::displayText(text);
    std::string line;
    line.reserve(shown.size());
    char escaped[8];
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto byte = static_cast<unsigned char>(shown[i]);
        if (byte == '\r' || byte == '\n') {
            if (byte == '\r' && i + 1 < shown.size() && shown[i + 1] == '\n') ++i;
            line += ' ';
        } else if (byte == '\t') {
            line += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line += escaped;
        } else if (byte == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) < 0xA0) {
            // U+0080..U+009F: C1 controls, which some terminals obey.
            std::snprintf(escaped, sizeof escaped, "\\u%04x",
                          static_cast<unsigned>(static_cast<unsigned char>(shown[++i])));
            line += escaped;
        } else {
            line += shown[i];
        }
    }
    return line;
}

Terminal::Terminal(std::ostream& err, bool showProgress, std::function<bool()> stop)
    : err_(err), showProgress_(showProgress), stop_(std::move(stop)) {}

void Terminal::tableJobStarting(const std::string& banco, const std::string& empresa, const std::string& table) {
    job_ = Job{banco, empresa, table, 0, 0};
    ++jobNumber_;
    total_ = -1;
}

void Terminal::setGaugeMaximum(int maximum) {
    total_ = maximum;
    copyStarted_ = Clock::now();
    lastDrawn_ = {};
}

void Terminal::stepGauge() {
    ++job_.read;
    if (!showProgress_) return;
    const Clock::time_point now = Clock::now();
    if (now - lastDrawn_ < kRedrawInterval) return;
    lastDrawn_ = now;
    draw();
}

void Terminal::resetGauge() {
    // The job's last state stays on screen, on a line of its own.
    if (!showProgress_ || total_ < 0) return;
    draw();
    err_ << '\n' << std::flush;
    lineShown_ = false;
    total_ = -1;
}

void Terminal::appendLog(const std::string& line) {
    ++job_.failed;
    show(line);
}

void Terminal::warning(const std::string& text) {
    // The movement job tries a file the document job could not open, and
    // is refused the same way: one line per branch is enough.
    const bool repeated =
        text == lastWarning_ && jobNumber_ == lastWarningJob_ + 1 && job_.table == transfer::moviRecProfile().tableName;
    lastWarning_ = text;
    lastWarningJob_ = jobNumber_;
    if (repeated) return;
    messages_.push_back(text);
    show(text);
}

void Terminal::error(const std::string& text) {
    messages_.push_back(text);
    show(text);
}

void Terminal::show(const std::string& text) {
    erase();
    err_ << oneLine(text) << '\n' << std::flush;
    if (showProgress_ && total_ >= 0) draw();
}

void Terminal::draw() {
    const double seconds = std::chrono::duration<double>(Clock::now() - copyStarted_).count();
    const double rate = seconds > 0 ? job_.read / seconds : 0;
    std::string text = job_.banco + " (" + job_.empresa + ") " + job_.table + "  " + std::to_string(job_.read) + "/" +
                       std::to_string(total_) + " rows  " + std::to_string(static_cast<long>(rate)) + " rows/s";
    if (rate > 0) text += "  " + clockText(std::max(0, total_ - job_.read) / rate) + " left";
    err_ << "\r\033[K" << oneLine(text) << std::flush;
    lineShown_ = true;
}

void Terminal::erase() {
    if (!lineShown_) return;
    err_ << "\r\033[K";
    lineShown_ = false;
}

}  // namespace batch
