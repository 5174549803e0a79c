#include "Harness.h"

#include <firebird/Interface.h>

#include <cstdio>
#include <sstream>
#include <stdexcept>

#include "EntryList.h"
#include "transfer/Connections.h"
#include "transfer/TableJob.h"

namespace reliability {

namespace {

const char* const kProgressPrefixes[] = {"Integrando Documento: ", "Integrando Movimento: "};

}  // namespace

std::string toString(const Box& box) {
    const char* kind = box.kind == Box::Kind::Information ? "Information"
                       : box.kind == Box::Kind::Warning   ? "Warning"
                                                          : "Error";
    return std::string(kind) + ": " + box.text;
}

std::string toString(const std::vector<Box>& boxes) {
    std::string text;
    for (const Box& box : boxes) text += "[" + toString(box) + "]\n";
    return text;
}

void Recorder::setProgressText(const std::string& text) {
    for (const char* prefix : kProgressPrefixes) {
        const std::string p(prefix);
        if (text.compare(0, p.size(), p) == 0) {
            const std::string key = text.substr(p.size());
            startedRows.push_back(key);
            startedAt.push_back(Clock::now());
            if (onRow) onRow(key);
        }
    }
}

Program::Program() = default;

Outcome Program::convert(const std::string& centralPath, const std::vector<Entry>& entries, Recorder& recorder) {
    Outcome outcome;
    if (transfer::ConectaBancoCentralizador(central, centralPath, recorder)) {
        if (entries.empty()) {
            recorder.warning("É necessário informar pelo menos um banco de dados da filial.");
        } else {
            outcome.started = true;
            testsupport::EntryList::Entries pairs;
            for (const Entry& entry : entries) pairs.emplace_back(entry.banco, entry.empresa);
            testsupport::EntryList list(std::move(pairs));
            try {
                outcome.summary = transfer::runConversion({central, branch}, list, recorder, recorder);
                if (outcome.summary.clean())
                    recorder.information(transfer::kSucesso);
                else
                    recorder.warning(transfer::runEndMessage(outcome.summary));
            } catch (const transfer::ConversionError& failure) {
                outcome.failure = failure.what();
            }
        }
    }
    outcome.boxes = recorder.boxes;
    outcome.log = recorder.log;
    return outcome;
}

Outcome Program::convert(const std::string& centralPath, const std::vector<Entry>& entries) {
    Recorder recorder;
    return convert(centralPath, entries, recorder);
}

Box success() { return {Box::Kind::Information, "Integração realizada com sucesso!"}; }

Box endWithErrors(int failedRows, int unopenedFiles) {
    return {Box::Kind::Warning,
            "Integração concluída com erros! Registros não integrados: " + std::to_string(failedRows) +
                ". Bancos não conectados: " + std::to_string(unopenedFiles) + "." +
                (failedRows > 0 ? " Verifique o Log de Erros." : "")};
}

Box centralRefused(const std::string& motivo) {
    return {Box::Kind::Error, "Não foi possível conectar ao banco de dados Centralizador\rMotivo: " + motivo};
}

Box branchRefused(const std::string& path, const std::string& motivo) {
    return {Box::Kind::Warning, "Erro ao conectar no banco de dados: " + path + " Motivo: " + motivo};
}

std::string docKey(const std::string& prefix, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return prefix + digits;
}

void fillBranch(const std::string& path, const std::string& empresa, int documents, const std::string& prefix) {
    std::vector<testsupport::Row> docs;
    std::vector<testsupport::Row> movs;
    for (int i = 1; i <= documents; ++i) {
        const std::string key = docKey(prefix, i);
        docs.push_back(testsupport::documentRow(empresa, key)
                           .set("VALORDOCTO", std::to_string(100 + i) + ".25")
                           .set("CODPROJ", std::to_string(i)));
        movs.push_back(testsupport::movementRow(empresa, key).set("VALORMOV", std::to_string(i) + ".5"));
    }
    for (int i = 1; i <= 2; ++i) {
        docs.push_back(testsupport::documentRow("09", docKey("X", i)));
        movs.push_back(testsupport::movementRow("09", docKey("X", i)));
    }
    testsupport::insertRows(path, "DOCUREC", docs);
    testsupport::insertRows(path, "MOVIREC", movs);
}

void makeBranch(const std::string& path, const std::string& empresa, int documents, const std::string& prefix) {
    testsupport::createBranchDatabase(path);
    fillBranch(path, empresa, documents, prefix);
}

testsupport::Rows dump(const std::string& path, const std::string& table) {
    const std::string order =
        table == "MOVIREC" ? "CODEMPRESA, TIPODOCTO, CODDOCTO, NUMORD" : "CODEMPRESA, TIPODOCTO, CODDOCTO";
    return testsupport::selectAsText(path, "SELECT * FROM " + table + " ORDER BY " + order);
}

std::string toString(const testsupport::Rows& rows) {
    std::ostringstream text;
    for (const auto& row : rows) {
        for (const auto& cell : row) text << (cell ? "'" + *cell + "'" : "NULL") << ' ';
        text << '\n';
    }
    return text.str();
}

std::vector<std::string> keys(const std::string& path, const std::string& table) {
    std::vector<std::string> result;
    for (const auto& row : testsupport::selectAsText(path, "SELECT CODDOCTO FROM " + table + " ORDER BY CODDOCTO"))
        result.push_back(row.at(0).value_or("<NULL>"));
    return result;
}

std::string escapeLine(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '\n')
            escaped += "\\n";
        else if (c == '\r')
            escaped += "\\r";
        else
            escaped += c;
    }
    return escaped;
}

std::string unescapeLine(const std::string& text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            plain += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

std::string quoted(const std::string& path) { return "\"" + path + "\""; }

// ---------------------------------------------------------------------------
// LockHolder: the raw client API, so it shares nothing with db/.

using namespace Firebird;

namespace {

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
    return instance;
}

[[noreturn]] void fail(const FbException& failure, const std::string& context) {
    char buffer[4096];
    master()->getUtilInterface()->formatStatus(buffer, sizeof buffer, failure.getStatus());
    throw std::runtime_error(context + ": " + buffer);
}

}  // namespace

struct LockHolder::Handles {
    IAttachment* attachment = nullptr;
    ITransaction* transaction = nullptr;
};

LockHolder::LockHolder(const std::string& path) : handles_(new Handles) {
    ThrowStatusWrapper status(master()->getStatus());
    try {
        IXpbBuilder* dpb = master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, testsupport::kUser);
        dpb->insertString(&status, isc_dpb_password, testsupport::kPassword);
        dpb->insertInt(&status, isc_dpb_sql_dialect, 1);
        handles_->attachment = master()->getDispatcher()->attachDatabase(
            &status, path.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
        dpb->dispose();
        // Read committed and waiting, like any other program of the office.
        static const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                            isc_tpb_rec_version, isc_tpb_wait};
        handles_->transaction = handles_->attachment->startTransaction(&status, sizeof tpb, tpb);
    } catch (const FbException& failure) {
        status.dispose();
        delete handles_;
        fail(failure, "lock holder on " + path);
    }
    status.dispose();
}

LockHolder::~LockHolder() {
    CheckStatusWrapper status(master()->getStatus());
    if (handles_->transaction) handles_->transaction->rollback(&status);
    if (handles_->attachment) handles_->attachment->detach(&status);
    status.dispose();
    delete handles_;
}

void LockHolder::execute(const std::string& sql) {
    ThrowStatusWrapper status(master()->getStatus());
    try {
        handles_->attachment->execute(&status, handles_->transaction, 0, sql.c_str(), 1, nullptr, nullptr, nullptr,
                                      nullptr);
    } catch (const FbException& failure) {
        status.dispose();
        fail(failure, sql);
    }
    status.dispose();
}

long long LockHolder::transactionNumber() {
    ThrowStatusWrapper status(master()->getStatus());
    long long number = 0;
    try {
        unsigned char item = isc_info_tra_id;
        unsigned char buffer[32] = {};
        handles_->transaction->getInfo(&status, 1, &item, sizeof buffer, buffer);
        if (buffer[0] == isc_info_tra_id) {
            const int length = buffer[1] | (buffer[2] << 8);
            for (int i = length - 1; i >= 0; --i) number = (number << 8) | buffer[3 + i];
        }
    } catch (const FbException& failure) {
        status.dispose();
        fail(failure, "transaction number");
    }
    status.dispose();
    return number;
}

void LockHolder::commit() {
    ThrowStatusWrapper status(master()->getStatus());
    try {
        handles_->transaction->commit(&status);
        handles_->transaction = nullptr;
    } catch (const FbException& failure) {
        status.dispose();
        fail(failure, "commit");
    }
    status.dispose();
}

void LockHolder::rollback() {
    ThrowStatusWrapper status(master()->getStatus());
    try {
        handles_->transaction->rollback(&status);
        handles_->transaction = nullptr;
    } catch (const FbException& failure) {
        status.dispose();
        fail(failure, "rollback");
    }
    status.dispose();
}

}  // namespace reliability
