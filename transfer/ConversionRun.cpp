#include "transfer/ConversionRun.h"

#include <optional>
#include <set>
#include <utility>

#include "db/Connection.h"
#include "db/LocalFile.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "transfer/BlockWrites.h"
#include "transfer/Tables.h"

namespace transfer {

namespace {

// Copying the central file onto itself would rewrite its own rows with the
// copy's NULL rules; it is decided by the file's identity, not its text.
bool isCentralFile(const Connections& connections, const std::string& banco) {
    return db::sameLocalFile(banco, connections.central.attachedDatabase());
}

// The branch selects share a transaction for as long as the run lasts,
// however it ends.
class SharedBranchReads {
public:
    SharedBranchReads(db::Connection& branch, bool share) : branch_(share ? &branch : nullptr) {
        if (branch_) branch_->setSharedReads(true);
    }
    ~SharedBranchReads() {
        if (branch_) branch_->setSharedReads(false);
    }
    SharedBranchReads(const SharedBranchReads&) = delete;
    SharedBranchReads& operator=(const SharedBranchReads&) = delete;

private:
    db::Connection* branch_;
};

}  // namespace

RunSummary runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages,
                         const RunOptions& options) {
    RunSummary summary;
    runConversion(connections, list, view, messages, options, summary);
    return summary;
}

void runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages,
                   const RunOptions& options, RunSummary& summary) {
    // A file listed under several codes is one file not opened.
    std::set<std::string> unopened;
    const auto countUnopened = [&](const std::string& banco) {
        if (unopened.insert(banco).second) ++summary.unopenedBranches;
    };
    // Kept for the run when the jobs share them: prepared at first use.
    db::Statement docuRecCentral, moviRecCentral;
    // And the branch selects, kept prepared while entries one after
    // another read the same branch attachment.
    db::Query docuRecBranch, moviRecBranch;
    const SharedBranchReads sharedReads(connections.branch, options.shareBranchReads);
    // The entry before in this run: an attachment left by another run may
    // have been made with other settings, and is not taken.
    std::optional<std::string> previousBanco;
    // With them their blocks, prepared once and their table's layout read
    // once; each job counts its executions into its own tally.
    int uncounted = 0;
    const CommitPolicy& policy = options.commit;
    BlockWrites docuRecBlocks(docuRecCentral, docuRecProfile(), uncounted, policy.rowsPerStatement,
                              policy.rowsPerCommit, policy.mergeRows);
    BlockWrites moviRecBlocks(moviRecCentral, moviRecProfile(), uncounted, policy.rowsPerStatement,
                              policy.rowsPerCommit, policy.mergeRows);
    list.first();
    while (!list.eof()) {
        // Both jobs of an entry use the texts it had when it was reached,
        // even if the entry is removed from the list meanwhile.
        const std::string banco = list.banco();
        const std::string empresa = list.empresa();
        const bool sameBancoAsBefore = previousBanco == banco;
        previousBanco = banco;
        const auto refuseAsCentral = [&] {
            messages.warning("Erro ao conectar no banco de dados: " + banco + " Motivo: " + kBancoCentralizadorNaLista);
            countUnopened(banco);
            list.next();
        };
        if (isCentralFile(connections, banco)) {
            refuseAsCentral();
            continue;
        }
        bool opened = true;
        bool isCentral = false;
        const struct {
            decltype(&ConverteDocuRec) job;
            db::Statement* centralStatement;
            BlockWrites* blocks;
            db::Query* branchSelect;
        } jobs[] = {{&ConverteDocuRec, &docuRecCentral, &docuRecBlocks, &docuRecBranch},
                    {&ConverteMoviRec, &moviRecCentral, &moviRecBlocks, &moviRecBranch}};
        for (const auto& [job, centralStatement, blocks, branchSelect] : jobs) {
            JobOptions jobOptions{options.commit, options.countInDatabase};
            jobOptions.inlineShortBlobs = options.inlineShortBlobs;
            jobOptions.readAheadRows = options.readAheadRows;
            if (options.shareAcrossJobs) {
                // The entry's first job may find the attachment of the
                // entry before, when that named the same branch string.
                const bool firstJob = centralStatement == jobs[0].centralStatement;
                jobOptions.keepBranchAttachment = !firstJob || sameBancoAsBefore;
                jobOptions.keptAttachmentMayBeStale = firstJob;
                jobOptions.central = centralStatement;
                jobOptions.blocks = blocks;
                jobOptions.branchSelect = branchSelect;
            }
            const JobResult result = job(connections, banco, empresa, view, messages, jobOptions);
            if (result.branchIsCentral) {
                isCentral = true;
                break;
            }
            summary.jobs.push_back({banco, empresa, result.table, result.branchOpened, result.tally, result.seconds});
            summary.writtenRows += result.tally.written;
            summary.failedRows += result.tally.failed;
            opened = opened && result.branchOpened;
            if (result.tally.stopped || view.stopRequested()) {
                if (!opened) countUnopened(banco);
                summary.stopped = true;
                return;
            }
            if (result.branchUnanswered && options.oneAttemptPerSilentBranch) break;
        }
        if (isCentral) {
            refuseAsCentral();
            continue;
        }
        if (!opened) countUnopened(banco);
        list.next();
    }
}

std::string runEndMessage(const RunSummary& summary) {
    if (summary.clean()) return kSucesso;
    std::string text =
        "Integração concluída com erros! Registros não integrados: " + std::to_string(summary.failedRows) +
        ". Bancos não conectados: " + std::to_string(summary.unopenedBranches) + ".";
    // A file that could not be opened leaves no line in the log.
    if (summary.failedRows > 0) text += " Verifique o Log de Erros.";
    return text;
}

}  // namespace transfer
