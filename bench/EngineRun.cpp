#include "EngineRun.h"

#include "EntryList.h"

#include "db/Connection.h"
#include "transfer/Connections.h"

namespace bench {

EngineTally runEngine(const std::string& branch, const std::string& central, const std::vector<std::string>& codes) {
    db::Connection conexaoCentralizador;
    db::Connection conexaoFilial;
    SilentView view;
    RecordedMessages messages;
    // One entry per company code, all on the same branch file.
    testsupport::EntryList::Entries entries;
    for (const std::string& code : codes)
        entries.emplace_back(branch, code);
    testsupport::EntryList list(std::move(entries));
    EngineTally tally;
    if (transfer::ConectaBancoCentralizador(conexaoCentralizador, central, messages)) {
        const transfer::RunSummary summary =
            transfer::runConversion({conexaoCentralizador, conexaoFilial}, list, view, messages);
        tally.written = summary.writtenRows;
        tally.failed = summary.failedRows;
    }
    tally.problems = messages.texts;
    tally.problems.insert(tally.problems.end(), view.logLines.begin(), view.logLines.end());
    return tally;
}

}  // namespace bench
