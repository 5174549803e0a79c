#include "transfer/TableJob.h"

#include <chrono>
#include <optional>

#include "db/Connection.h"
#include "db/Error.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "transfer/Connections.h"
#include "transfer/DisplayText.h"
#include "transfer/Tables.h"

namespace transfer {

namespace {

// Leaves the progress display blank between jobs, however a job ends.
class ProgressReset {
public:
    explicit ProgressReset(ProgressView& view) : view_(view) {}
    ~ProgressReset() {
        view_.setProgressText("");
        view_.resetGauge();
    }
    ProgressReset(const ProgressReset&) = delete;
    ProgressReset& operator=(const ProgressReset&) = delete;

private:
    ProgressView& view_;
};

void openSelect(db::Query& branch, const std::string& sql, const std::string& empresa) {
    // A query kept from an earlier job stays prepared.
    if (branch.sql() != sql) {
        branch.clearSql();
        branch.addSql(sql);
    }
    branch.setText(branch.paramIndex("CodEmpresa"), empresa);
    branch.open();
}

// A shortcut the branch database refuses (a table of another shape) gives
// way to the window's plain road, which then fails or copies as the window
// does. A lost connection is no refusal.
template <typename Shortcut>
bool attempt(Shortcut&& shortcut) {
    try {
        shortcut();
        return true;
    } catch (const db::Error& refused) {
        if (refused.connectionLost()) throw;
        return false;
    }
}

// What the profile's select will give, as the database counts it.
int countRows(db::Connection& branch, const TableProfile& profile, const std::string& empresa) {
    db::Query count(branch);
    count.addSql(profile.countSql);
    count.setText(count.paramIndex("CodEmpresa"), empresa);
    count.open();
    const int rows = count.asInteger(0);
    count.close();
    return rows;
}

}  // namespace

JobResult runTableJob(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                      const TableProfile& profile, ProgressView& view, UserMessages& messages,
                      const JobOptions& options) {
    view.tableJobStarting(pBancoFilial, pEmpresa, profile.tableName);
    ProgressReset reset(view);
    JobResult result;
    result.table = profile.tableName;
    const auto started = std::chrono::steady_clock::now();
    try {
        db::Statement ownCentral;
        db::Statement& central = options.central ? *options.central : ownCentral;
        db::Query ownBranch;
        db::Query& branch = options.branchSelect ? *options.branchSelect : ownBranch;
        const bool kept = options.keepBranchAttachment && connections.branch.isAttached() &&
                          connections.branch.attachedDatabase() == pBancoFilial;
        // Another string for the central file, through a server: what the
        // two servers say about their files tells.
        const auto branchIsCentral = [&] {
            if (connections.branch.identity() != connections.central.identity()) return false;
            connections.branch.drop();
            result.branchIsCentral = true;
            return true;
        };
        if (!kept && !ConectaBancoFilial(connections.branch, pBancoFilial, messages, &result.branchUnanswered))
            return result;
        if (branchIsCentral()) return result;
        result.branchOpened = true;
        // Attaching again would give up what the statement has prepared.
        if (!central.isAttached() || &central.connection() != &connections.central) central.attach(connections.central);
        if (!branch.isAttached() || &branch.connection() != &connections.branch) branch.attach(connections.branch);
        const auto openBranchSelect = [&] {
            if (!options.inlineShortBlobs || profile.inlineSelectSql.empty() ||
                !attempt([&] { openSelect(branch, profile.inlineSelectSql, pEmpresa); }))
                openSelect(branch, profile.selectSql, pEmpresa);
        };
        if (kept && options.keptAttachmentMayBeStale) {
            try {
                openBranchSelect();
            } catch (const db::Error& lost) {
                if (!lost.connectionLost()) throw;
                result.branchOpened = false;
                if (!ConectaBancoFilial(connections.branch, pBancoFilial, messages, &result.branchUnanswered))
                    return result;
                if (branchIsCentral()) return result;
                result.branchOpened = true;
                openBranchSelect();
            }
        } else {
            openBranchSelect();
        }
        if (!branch.isEmpty()) {
            std::optional<int> rowTotal;
            if (options.countInDatabase && view.showsRowCount())
                attempt([&] { rowTotal = countRows(connections.branch, profile, pEmpresa); });
            copyRows(central, branch, profile, view, options.commit, result.tally, rowTotal,
                     options.central ? options.blocks : nullptr, options.readAheadRows);
        }
    } catch (const CentralConnectionLost& failure) {
        throw ConversionError(
            std::string("Erro ao converter os dados! Motivo: ") + kCentralPerdido + ": " + displayText(failure.what()),
            result.tally);
    } catch (const std::exception& failure) {
        // With many branches in the list, the file and table say where the
        // run stopped.
        throw ConversionError("Erro ao converter os dados! Motivo: " + pBancoFilial + " (" + profile.tableName +
                                  "): " + displayText(failure.what()),
                              result.tally);
    }
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

JobResult ConverteDocuRec(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                          ProgressView& view, UserMessages& messages, const JobOptions& options) {
    return runTableJob(connections, pBancoFilial, pEmpresa, docuRecProfile(), view, messages, options);
}

JobResult ConverteMoviRec(Connections connections, const std::string& pBancoFilial, const std::string& pEmpresa,
                          ProgressView& view, UserMessages& messages, const JobOptions& options) {
    return runTableJob(connections, pBancoFilial, pEmpresa, moviRecProfile(), view, messages, options);
}

}  // namespace transfer
