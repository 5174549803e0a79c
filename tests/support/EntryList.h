#pragma once

#include "transfer/ConversionRun.h"

#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// A branch list of fixed (path, company code) entries, walked in order: what
// the window's list gives a run when nobody touches it meanwhile.
class EntryList : public transfer::BranchList {
public:
    using Entries = std::vector<std::pair<std::string, std::string>>;

    explicit EntryList(Entries entries) : entries_(std::move(entries)) {}

    int count() const override { return static_cast<int>(entries_.size()); }
    void first() override { current_ = 0; }
    bool eof() const override { return current_ >= entries_.size(); }
    void next() override { ++current_; }
    std::string banco() const override { return entries_.at(current_).first; }
    std::string empresa() const override { return entries_.at(current_).second; }

private:
    Entries entries_;
    std::size_t current_ = 0;
};

}  // namespace testsupport
