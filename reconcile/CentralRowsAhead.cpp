#include "reconcile/CentralRowsAhead.h"

#include "db/Connection.h"

namespace reconcile {

namespace {

constexpr const char* kCentralSide = "central database";

}  // namespace

struct CentralRowsAhead::Reader {
    db::Connection connection;
    std::shared_future<void> attached;  // after the connection: waited for before it is detached
    bool busy = false;
};

CentralRowsAhead::CentralRowsAhead(std::function<void(db::Connection&)> setup, std::size_t attachments,
                                   const long long& centralChanges)
    : centralChanges_(centralChanges) {
    for (std::size_t i = 0; i < attachments; ++i) {
        auto reader = std::make_unique<Reader>();
        setup(reader->connection);
        reader->connection.setReadOnly(true);
        db::Connection& connection = reader->connection;
        reader->attached = std::async(std::launch::async, [&connection] { connection.open(); }).share();
        readers_.push_back(std::move(reader));
    }
}

CentralRowsAhead::~CentralRowsAhead() {
    taken_.reset();
    for (std::size_t j = next_; j < jobs_.size(); ++j) letGo(jobs_[j]);
    for (auto& reader : readers_) reader->attached.wait();
}

void CentralRowsAhead::plan(const std::vector<std::pair<const CentralTable*, std::string>>& jobs) {
    for (const auto& [table, code] : jobs) jobs_.push_back(Job{table, code, nullptr, {}, 0});
    openAhead();
}

void CentralRowsAhead::launch(Job& job, Reader& reader) {
    reader.busy = true;
    job.reader = &reader;
    job.changesAtLaunch = centralChanges_;
    job.opening = std::async(std::launch::async, [&reader, table = job.table, code = job.code] {
        reader.attached.get();
        return std::make_unique<RowStream>(reader.connection, kCentralSide, *table, false, code);
    });
}

// The planned jobs in order, each on the next free attachment.
void CentralRowsAhead::openAhead() {
    std::size_t reader = 0;
    for (std::size_t j = next_; j < jobs_.size(); ++j) {
        if (jobs_[j].reader) continue;
        while (reader < readers_.size() && readers_[reader]->busy) ++reader;
        if (reader == readers_.size()) return;
        launch(jobs_[j], *readers_[reader]);
    }
}

void CentralRowsAhead::letGo(Job& job) noexcept {
    if (job.opening.valid()) {
        try {
            job.opening.get();  // the stream, or its failure, goes
        } catch (...) {
        }
    }
    if (job.reader) job.reader->busy = false;
    job.reader = nullptr;
}

RowStream& CentralRowsAhead::take(const CentralTable& table, const std::string& code) {
    release();
    std::size_t found = next_;
    while (found < jobs_.size() && (jobs_[found].table != &table || jobs_[found].code != code)) ++found;
    if (found == jobs_.size()) {
        // Not planned: the plan from here on is given up for it.
        for (std::size_t j = next_; j < jobs_.size(); ++j) letGo(jobs_[j]);
        jobs_.resize(next_);
        jobs_.push_back(Job{&table, code, nullptr, {}, 0});
        found = next_;
    } else {
        for (std::size_t j = next_; j < found; ++j) letGo(jobs_[j]);
    }
    next_ = found;
    openAhead();
    Job& job = jobs_[next_++];
    Reader& reader = *job.reader;
    try {
        std::unique_ptr<RowStream> stream = job.opening.get();
        if (job.changesAtLaunch != centralChanges_) {
            // Opened before a write of this run: read again after it.
            stream.reset();
            stream = std::make_unique<RowStream>(reader.connection, kCentralSide, table, false, code);
        }
        taken_ = std::move(stream);
    } catch (...) {
        reader.busy = false;
        job.reader = nullptr;
        throw;
    }
    takenReader_ = &reader;
    return *taken_;
}

void CentralRowsAhead::release() {
    if (!takenReader_) return;
    taken_.reset();
    takenReader_->busy = false;
    takenReader_ = nullptr;
    openAhead();
}

}  // namespace reconcile
