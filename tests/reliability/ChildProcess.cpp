#include "ChildProcess.h"

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <stdexcept>

#ifndef TAVOLENE_CONVERSION_DRIVER
#error "TAVOLENE_CONVERSION_DRIVER must name the driver executable"
#endif

namespace reliability {

std::string conversionDriver() { return TAVOLENE_CONVERSION_DRIVER; }

ChildProcess::ChildProcess(const std::vector<std::string>& arguments, const std::string& program) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) throw std::runtime_error("pipe failed");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        close(in[0]);
        close(in[1]);
        close(out[0]);
        close(out[1]);
        std::vector<char*> argv;
        std::string path = program;
        argv.push_back(path.data());
        std::vector<std::string> copies = arguments;
        for (std::string& argument : copies) argv.push_back(argument.data());
        argv.push_back(nullptr);
        execv(path.c_str(), argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
}

ChildProcess::~ChildProcess() {
    if (!waited_) {
        ::kill(pid_, SIGKILL);
        wait();
    }
    close(toChild_);
    close(fromChild_);
}

bool ChildProcess::readLine(std::string& line) {
    for (;;) {
        const auto newline = pending_.find('\n');
        if (newline != std::string::npos) {
            line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            record(line);
            return true;
        }
        char buffer[4096];
        const ssize_t got = read(fromChild_, buffer, sizeof buffer);
        if (got <= 0) return false;
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

bool ChildProcess::waitFor(const std::string& prefix, std::string* line) {
    std::string current;
    while (readLine(current)) {
        if (current.compare(0, prefix.size(), prefix) == 0) {
            if (line) *line = current;
            return true;
        }
    }
    return false;
}

void ChildProcess::writeLine(const std::string& line) {
    const std::string text = line + "\n";
    if (write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw std::runtime_error("cannot write to the child");
}

void ChildProcess::closeOutput() {
    close(fromChild_);
    fromChild_ = -1;
}

void ChildProcess::kill(int signal) { ::kill(pid_, signal); }

int ChildProcess::wait() {
    if (!waited_) {
        std::string rest;
        while (readLine(rest)) {
        }
        waitpid(pid_, &status_, 0);
        waited_ = true;
    }
    return status_;
}

void ChildProcess::record(const std::string& line) {
    auto after = [&](const char* prefix) { return unescapeLine(line.substr(std::strlen(prefix))); };
    if (line.rfind("ROW ", 0) == 0) {
        rows_.push_back(after("ROW "));
    } else if (line.rfind("LOG ", 0) == 0) {
        outcome_.log.push_back(after("LOG "));
    } else if (line.rfind("FAILURE ", 0) == 0) {
        outcome_.failure = after("FAILURE ");
    } else if (line.rfind("STARTED", 0) == 0) {
        outcome_.started = true;
    } else if (line.rfind("BOX ", 0) == 0) {
        const std::string rest = line.substr(4);
        const auto blank = rest.find(' ');
        const std::string kind = rest.substr(0, blank);
        const std::string text = unescapeLine(rest.substr(blank + 1));
        outcome_.boxes.push_back({kind == "Information" ? Box::Kind::Information
                                  : kind == "Warning"   ? Box::Kind::Warning
                                                        : Box::Kind::Error,
                                  text});
    }
}

std::vector<std::string> driverArguments(const std::string& central, const std::vector<Entry>& entries,
                                         const std::vector<std::string>& options) {
    std::vector<std::string> arguments = options;
    arguments.push_back(central);
    for (const Entry& entry : entries) {
        arguments.push_back(entry.empresa);
        arguments.push_back(entry.banco);
    }
    return arguments;
}

}  // namespace reliability
