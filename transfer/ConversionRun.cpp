#include "transfer/ConversionRun.h"

namespace transfer {

RunSummary runConversion(Connections connections, BranchList& list, ProgressView& view, UserMessages& messages) {
    RunSummary summary;
    list.first();
    while (!list.eof()) {
        // Both jobs of an entry use the texts it had when it was reached,
        // even if the entry is removed from the list meanwhile.
        const std::string banco = list.banco();
        const std::string empresa = list.empresa();
        for (auto job : {&ConverteDocuRec, &ConverteMoviRec}) {
            const JobResult result = job(connections, banco, empresa, view, messages);
            summary.writtenRows += result.tally.written;
            summary.failedRows += result.tally.failed;
            if (!result.branchOpened)
                ++summary.unopenedBranchJobs;
            if (result.tally.stopped || view.stopRequested()) {
                summary.stopped = true;
                return summary;
            }
        }
        list.next();
    }
    return summary;
}

std::string runEndMessage(const RunSummary& summary) {
    if (summary.clean())
        return kSucesso;
    return "Integração concluída com erros! Registros não integrados: " + std::to_string(summary.failedRows) +
           ". Bancos não conectados: " + std::to_string(summary.unopenedBranchJobs) + ". Verifique o Log de Erros.";
}

}  // namespace transfer
