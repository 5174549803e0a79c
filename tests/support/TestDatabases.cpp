#include "TestDatabases.h"

#include <firebird/Interface.h>
#include <langinfo.h>

#include <algorithm>
#include <charconv>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <system_error>

#include "db/Connection.h"
#include "db/Statement.h"

#ifndef TAVOLENE_TEST_SCHEMA_DIR
#error "TAVOLENE_TEST_SCHEMA_DIR must name the folder of the test schemas"
#endif

namespace testsupport {

using namespace Firebird;

namespace {

// The client passes database paths through the process's character-type
// locale; under the C locale a path with non-ASCII letters is refused. Like
// the program, switch to UTF-8, the encoding of file names here.
IMaster* master() {
    static IMaster* const instance = [] {
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
        return fb_get_master_interface();
    }();
    return instance;
}

IProvider* provider() {
    static IProvider* const instance = master()->getDispatcher();
    return instance;
}

// Firebird failures as std::runtime_error with the client's whole message.
[[noreturn]] void fail(const FbException& failure, const std::string& context) {
    char buffer[4096];
    master()->getUtilInterface()->formatStatus(buffer, sizeof buffer, failure.getStatus());
    throw std::runtime_error(context + ": " + buffer);
}

class Status {
public:
    Status() : status_(master()->getStatus()), wrapper_(status_) {}
    ~Status() { status_->dispose(); }
    Status(const Status&) = delete;
    Status& operator=(const Status&) = delete;
    ThrowStatusWrapper* operator&() { return &wrapper_; }

private:
    IStatus* status_;
    ThrowStatusWrapper wrapper_;
};

std::vector<unsigned char> buildDpb(const std::string& charset, bool create, int dialect = 1) {
    Status status;
    IXpbBuilder* dpb = master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&status, isc_dpb_user_name, kUser);
    dpb->insertString(&status, isc_dpb_password, kPassword);
    dpb->insertInt(&status, isc_dpb_sql_dialect, dialect);
    if (create) {
        dpb->insertInt(&status, isc_dpb_page_size, 8192);
        dpb->insertString(&status, isc_dpb_set_db_charset, charset.c_str());
    }
    const unsigned char* bytes = dpb->getBuffer(&status);
    std::vector<unsigned char> result(bytes, bytes + dpb->getBufferLength(&status));
    dpb->dispose();
    return result;
}

// An attachment for the length of one helper call, detached on the way out.
class Attachment {
public:
    explicit Attachment(const std::string& path) {
        const std::vector<unsigned char> dpb = buildDpb({}, false);
        try {
            Status status;
            handle_ = provider()->attachDatabase(&status, path.c_str(), static_cast<unsigned>(dpb.size()), dpb.data());
        } catch (const FbException& failure) {
            fail(failure, "attach " + path);
        }
    }
    Attachment(IAttachment* created) : handle_(created) {}
    ~Attachment() {
        CheckStatusWrapper status(master()->getStatus());
        handle_->detach(&status);
        if (status.getState() & IStatus::STATE_ERRORS) handle_->release();
        status.dispose();
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;
    IAttachment* operator->() const { return handle_; }
    IAttachment* get() const { return handle_; }

private:
    IAttachment* handle_ = nullptr;
};

// Read committed, like the program's own transactions.
ITransaction* startTransaction(IAttachment* attachment) {
    static const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed, isc_tpb_rec_version,
                                        isc_tpb_wait};
    Status status;
    return attachment->startTransaction(&status, sizeof tpb, tpb);
}

void runStatements(IAttachment* attachment, const std::vector<std::string>& statements, unsigned dialect = 1) {
    for (const std::string& sql : statements) {
        try {
            Status status;
            ITransaction* transaction = startTransaction(attachment);
            try {
                attachment->execute(&status, transaction, 0, sql.c_str(), dialect, nullptr, nullptr, nullptr, nullptr);
            } catch (...) {
                CheckStatusWrapper quiet(master()->getStatus());
                transaction->rollback(&quiet);
                quiet.dispose();
                throw;
            }
            transaction->commit(&status);
        } catch (const FbException& failure) {
            fail(failure, "execute \"" + sql + "\"");
        }
    }
}

template <typename T>
T load(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

std::string scaledText(std::int64_t value, int scale) {
    std::string digits =
        std::to_string(value < 0 ? -static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value));
    if (scale > 0) digits.append(static_cast<std::size_t>(scale), '0');
    if (scale < 0) {
        const auto decimals = static_cast<std::size_t>(-scale);
        if (digits.size() <= decimals) digits.insert(0, decimals - digits.size() + 1, '0');
        digits.insert(digits.size() - decimals, 1, '.');
    }
    return value < 0 ? "-" + digits : digits;
}

std::string doubleText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

std::string dateText(ISC_DATE date) {
    unsigned year = 0, month = 0, day = 0;
    master()->getUtilInterface()->decodeDate(date, &year, &month, &day);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", year, month, day);
    return buffer;
}

std::string timeText(ISC_TIME time) {
    unsigned hours = 0, minutes = 0, seconds = 0, fractions = 0;
    master()->getUtilInterface()->decodeTime(time, &hours, &minutes, &seconds, &fractions);
    char buffer[24];
    std::snprintf(buffer, sizeof buffer, "%02u:%02u:%02u.%04u", hours, minutes, seconds, fractions);
    return buffer;
}

std::string readBlob(IAttachment* attachment, ITransaction* transaction, ISC_QUAD id) {
    Status status;
    IBlob* blob = attachment->openBlob(&status, transaction, &id, 0, nullptr);
    std::string bytes;
    char segment[16384];
    for (;;) {
        unsigned length = 0;
        if (blob->getSegment(&status, sizeof segment, segment, &length) == IStatus::RESULT_NO_DATA) break;
        bytes.append(segment, length);
    }
    blob->close(&status);
    return bytes;
}

}  // namespace

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tavolene-test-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (!mkdtemp(buffer.data())) throw std::runtime_error("cannot create a temporary folder from " + pattern);
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> splitStatements(const std::string& sql) {
    std::vector<std::string> statements;
    std::string current;
    auto flush = [&] {
        const auto begin = current.find_first_not_of(" \t\r\n");
        if (begin != std::string::npos) {
            const auto end = current.find_last_not_of(" \t\r\n");
            statements.push_back(current.substr(begin, end - begin + 1));
        }
        current.clear();
    };
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        if (c == '\'' || c == '"') {
            std::size_t end = i + 1;
            while (end < sql.size() && sql[end] != c) ++end;  // a doubled quote closes and reopens: same result
            end = std::min(end + 1, sql.size());
            current.append(sql, i, end - i);
            i = end;
        } else if (sql.compare(i, 2, "--") == 0) {
            i = std::min(sql.find('\n', i), sql.size());
        } else if (sql.compare(i, 2, "/*") == 0) {
            const auto end = sql.find("*/", i + 2);
            i = end == std::string::npos ? sql.size() : end + 2;
            current += ' ';
        } else if (c == ';') {
            flush();
            ++i;
        } else {
            current += c;
            ++i;
        }
    }
    flush();
    return statements;
}

std::string schemaText(const std::string& fileName) {
    const std::string path = std::string(TAVOLENE_TEST_SCHEMA_DIR) + "/" + fileName;
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void createDatabase(const std::string& path, const std::string& sql, const std::string& charset, int dialect) {
    const std::vector<unsigned char> dpb = buildDpb(charset, true, dialect);
    IAttachment* created = nullptr;
    try {
        Status status;
        created = provider()->createDatabase(&status, path.c_str(), static_cast<unsigned>(dpb.size()), dpb.data());
    } catch (const FbException& failure) {
        fail(failure, "create " + path);
    }
    Attachment attachment(created);
    runStatements(attachment.get(), splitStatements(sql), static_cast<unsigned>(dialect));
}

void createBranchDatabase(const std::string& path, const std::string& charset) {
    createDatabase(path, schemaText("branch.sql"), charset);
}

void createCentralDatabase(const std::string& path, const std::string& charset) {
    createDatabase(path, schemaText("central.sql"), charset);
}

void execute(const std::string& path, const std::string& sql) {
    Attachment attachment(path);
    runStatements(attachment.get(), {sql});
}

void executeScript(const std::string& path, const std::string& sql) {
    Attachment attachment(path);
    runStatements(attachment.get(), splitStatements(sql));
}

Rows selectAsText(const std::string& path, const std::string& sql) {
    Attachment attachment(path);
    Rows rows;
    ITransaction* transaction = nullptr;
    try {
        Status status;
        transaction = startTransaction(attachment.get());
        IStatement* statement = attachment->prepare(&status, transaction, 0, sql.c_str(), 1, 0);
        IMessageMetadata* metadata = statement->getOutputMetadata(&status);
        const unsigned count = metadata->getCount(&status);
        std::vector<unsigned char> buffer(metadata->getMessageLength(&status));
        IResultSet* cursor = statement->openCursor(&status, transaction, nullptr, nullptr, metadata, 0);
        while (cursor->fetchNext(&status, buffer.data()) == IStatus::RESULT_OK) {
            std::vector<Cell> row;
            for (unsigned i = 0; i < count; ++i) {
                if (load<short>(buffer.data() + metadata->getNullOffset(&status, i))) {
                    row.emplace_back(std::nullopt);
                    continue;
                }
                const unsigned char* value = buffer.data() + metadata->getOffset(&status, i);
                const int scale = metadata->getScale(&status, i);
                switch (metadata->getType(&status, i) & ~1u) {
                    case SQL_TEXT:
                        row.emplace_back(
                            std::string(reinterpret_cast<const char*>(value), metadata->getLength(&status, i)));
                        break;
                    case SQL_VARYING:
                        row.emplace_back(
                            std::string(reinterpret_cast<const char*>(value) + 2, load<unsigned short>(value)));
                        break;
                    case SQL_SHORT:
                        row.emplace_back(scaledText(load<std::int16_t>(value), scale));
                        break;
                    case SQL_LONG:
                        row.emplace_back(scaledText(load<std::int32_t>(value), scale));
                        break;
                    case SQL_INT64:
                        row.emplace_back(scaledText(load<std::int64_t>(value), scale));
                        break;
                    case SQL_FLOAT:
                        row.emplace_back(doubleText(load<float>(value)));
                        break;
                    case SQL_DOUBLE:
                    case SQL_D_FLOAT:
                        row.emplace_back(doubleText(load<double>(value)));
                        break;
                    case SQL_TIMESTAMP: {
                        const auto stamp = load<ISC_TIMESTAMP>(value);
                        row.emplace_back(dateText(stamp.timestamp_date) + " " + timeText(stamp.timestamp_time));
                        break;
                    }
                    case SQL_TYPE_DATE:
                        row.emplace_back(dateText(load<ISC_DATE>(value)));
                        break;
                    case SQL_TYPE_TIME:
                        row.emplace_back(timeText(load<ISC_TIME>(value)));
                        break;
                    case SQL_BLOB:
                        row.emplace_back(readBlob(attachment.get(), transaction, load<ISC_QUAD>(value)));
                        break;
                    case SQL_BOOLEAN:
                        row.emplace_back(*value ? "TRUE" : "FALSE");
                        break;
                    default:
                        throw std::runtime_error("selectAsText: column type " +
                                                 std::to_string(metadata->getType(&status, i)) + " not handled");
                }
            }
            rows.push_back(std::move(row));
        }
        cursor->close(&status);
        metadata->release();
        statement->free(&status);
        transaction->commit(&status);
    } catch (const FbException& failure) {
        if (transaction) {
            CheckStatusWrapper quiet(master()->getStatus());
            transaction->rollback(&quiet);
            quiet.dispose();
        }
        fail(failure, "select \"" + sql + "\"");
    }
    return rows;
}

Cell selectValue(const std::string& path, const std::string& sql) {
    const Rows rows = selectAsText(path, sql);
    if (rows.empty() || rows.front().empty()) throw std::runtime_error("no row from \"" + sql + "\"");
    return rows.front().front();
}

long long countRows(const std::string& path, const std::string& table, const std::string& where) {
    const Cell count = selectValue(path, "SELECT COUNT(*) FROM " + table + (where.empty() ? "" : " WHERE " + where));
    return count ? std::stoll(*count) : 0;
}

Row& Row::set(const std::string& name, std::optional<std::string> value) {
    for (Column& column : columns_) {
        if (column.name == name) {
            column.value = std::move(value);
            column.blob = false;
            return *this;
        }
    }
    columns_.push_back({name, std::move(value), false});
    return *this;
}

Row& Row::setBlob(const std::string& name, std::optional<std::string> bytes) {
    set(name, std::move(bytes));
    for (Column& column : columns_)
        if (column.name == name) column.blob = true;
    return *this;
}

Row& Row::remove(const std::string& name) {
    columns_.erase(std::remove_if(columns_.begin(), columns_.end(), [&](const Column& c) { return c.name == name; }),
                   columns_.end());
    return *this;
}

std::optional<std::string> Row::value(const std::string& name) const {
    for (const Column& column : columns_)
        if (column.name == name) return column.value;
    throw std::runtime_error("row has no column " + name);
}

void insertRows(const std::string& path, const std::string& table, const std::vector<Row>& rows) {
    if (rows.empty()) return;
    db::Connection connection;
    connection.parameters().setValue("Database", path);
    connection.parameters().setValue("User_Name", kUser);
    connection.parameters().setValue("Password", kPassword);
    connection.open();
    db::Statement insert(connection);
    std::string preparedFor;
    for (const Row& row : rows) {
        std::string names, markers;
        for (const Row::Column& column : row.columns()) {
            names += (names.empty() ? "" : ", ") + column.name;
            markers += (markers.empty() ? ":" : ", :") + column.name;
        }
        const std::string sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + markers + ")";
        // A column set to NULL is simply not given a value: an unset
        // parameter travels as NULL. Values stay set from row to row, so the
        // statement is set up again when the NULL columns change.
        std::string shape = sql;
        for (const Row::Column& column : row.columns()) shape += column.value ? '1' : '0';
        if (shape != preparedFor) {
            insert.clearSql();
            insert.addSql(sql);
            preparedFor = shape;
        }
        for (const Row::Column& column : row.columns()) {
            if (!column.value) continue;
            const int index = insert.paramIndex(column.name);
            if (column.blob)
                insert.setBlob(index, *column.value);
            else
                insert.setText(index, *column.value);
        }
        insert.execute();
    }
}

void insertRow(const std::string& path, const std::string& table, const Row& row) { insertRows(path, table, {row}); }

Row documentRow(const std::string& codEmpresa, const std::string& codDocto) {
    Row row;
    row.set("CODEMPRESA", codEmpresa)
        .set("CODCLIENTE", "C00042")
        .set("TIPODOCTO", "DP")
        .set("CODDOCTO", codDocto)
        .set("DT_VENDA", "2024-03-10 09:15:00")
        .set("DT_EMISSAO", "2024-03-11 00:00:00")
        .set("DT_VENCIMENTO", "2024-04-10 00:00:00")
        .set("CODMOEDA", "R$ ")
        .set("VALORVENDA", "1500.75")
        .set("VALORDOCTO", "1480.5")
        .set("VALORDESC", "20.25")
        .set("VALORPAGO", "0")
        .set("VALORDEVOL", "0")
        .set("NOSSONUMERO", "00012345")
        .set("NUMORD", "1")
        .set("NUMDOCORIG", "NF-" + codDocto)
        .set("CODBANCO", "341")
        .set("CODVENDEDOR", "V07")
        .set("CODCART", "109")
        .set("COMISSAO", "2.5")
        .set("CONTACXA", "1.1.01")
        .set("EMITIUBOLETA", "S")
        .set("SIST_MANU", "S")
        .set("SITUACAO", "A")
        .set("OBSERVACAO", "Venda a prazo, 30 dias")
        .set("CODOPER", "VENDA")
        .set("ORDEM", "1")
        .set("QUANTITENS", "3")
        .set("TXANTECIP", "1.25")
        .set("DESPADIC", "12.4")
        .setBlob("ANOTACOES", "Cliente pediu boleto por e-mail.\r\nLigar antes do vencimento.")
        .set("NUMDOCBCO", "9000123")
        .set("TIPOVINCULO", "P")
        .set("CODVINCULO", "PED-77")
        .set("CODPLANOVINCULO", "PL1")
        .set("CODFORMAVINCULO", "BOL")
        .set("TAXARETENCAO", "0.65")
        .set("CODPROJ", "17")
        .set("DESCFINANC", "5.5")
        .set("CODCOBRADOR", "K02")
        .set("TXMANUTENCAO", "0.1")
        .set("GEROUREMESSA", "N")
        .set("CODAUTORIZACAO", "AUT123")
        .set("DOCTOAUTORIZACAO", "DOC456")
        .set("CODBANDEIRA", "VISA")
        .set("CODPRODUTOBANDEIRA", "CRED")
        .set("ACRESCIMOBOLETO", "2.9")
        .set("ACRESCIMOREMESSA", "1.1")
        .set("DT_ALTERACAO", "2024-03-12 17:45:03")
        .set("USUARIO_ALT", "MARIA");
    return row;
}

Row movementRow(const std::string& codEmpresa, const std::string& codDocto, const std::string& numOrd) {
    Row row;
    row.set("CODEMPRESA", codEmpresa)
        .set("TIPODOCTO", "DP")
        .set("CODDOCTO", codDocto)
        .set("CODCLIENTE", "C00042")
        .set("TIPOMOV", "P")
        .set("NUMORD", numOrd)
        .set("VALORMOV", "740.25")
        .set("VALORDESC", "0")
        .set("JUROSMULTA", "3.7")
        .set("DT_MOVIMENTO", "2024-04-09 00:00:00")
        .set("DT_VENCIMENTO", "2024-04-10 00:00:00")
        .set("CODBANCOPGTO", "001")
        .set("CODFORMAPGTO", "DIN")
        .set("CONTACXA", "1.1.01")
        .set("DATAHORA", "2024-04-09 14:32:10")
        .set("NOMEBANCOPGTO", "BANCO DO BRASIL")
        .set("NUMDOCPGTO", "REC-" + codDocto + "-" + numOrd)
        .set("SIST_MANU", "S")
        .set("USUARIO", "JOAO")
        .set("CODOPER", "BAIXA")
        .set("CONTAPGTO", "12345-6")
        .set("CODAGENPGTO", "1234")
        .set("ESTORNADO", "N")
        .set("CODBANCOANT", "341")
        .set("CODCARTANT", "109")
        .set("CODBANCOAT", "001")
        .set("CODCARTAT", "17")
        .set("NUMORD2", numOrd)
        .set("ORDEMLIQRECEBER", "3")
        .set("CODLIQVALOR", "12")
        .set("OBSERVACAO", "Pagamento parcial")
        .set("CODEMPRESAMOV", codEmpresa)
        .set("CODLIQINTEGRADA", "7")
        .set("NOSSONUMERO", "00012345")
        .set("AGENCIAAT", "0001")
        .set("CONTAAT", "98765-4")
        .set("SEQUENCIAENCELIQ", "21")
        .set("NUMSEQECF", "000981")
        .set("DT_ALTERACAO", "2024-04-09 14:33:00")
        .set("USUARIO_ALT", "JOAO");
    return row;
}

const std::vector<std::string>& documentColumns() {
    static const std::vector<std::string> names = {"CODEMPRESA",      "CODCLIENTE",
                                                   "TIPODOCTO",       "CODDOCTO",
                                                   "DT_VENDA",        "DT_EMISSAO",
                                                   "DT_VENCIMENTO",   "CODMOEDA",
                                                   "VALORVENDA",      "VALORDOCTO",
                                                   "VALORDESC",       "VALORPAGO",
                                                   "VALORDEVOL",      "NOSSONUMERO",
                                                   "NUMORD",          "NUMDOCORIG",
                                                   "CODBANCO",        "CODVENDEDOR",
                                                   "CODCART",         "COMISSAO",
                                                   "CONTACXA",        "EMITIUBOLETA",
                                                   "SIST_MANU",       "SITUACAO",
                                                   "OBSERVACAO",      "CODOPER",
                                                   "ORDEM",           "QUANTITENS",
                                                   "TXANTECIP",       "DESPADIC",
                                                   "ANOTACOES",       "NUMDOCBCO",
                                                   "TIPOVINCULO",     "CODVINCULO",
                                                   "CODPLANOVINCULO", "CODFORMAVINCULO",
                                                   "TAXARETENCAO",    "CODPROJ",
                                                   "DESCFINANC",      "CODCOBRADOR",
                                                   "TXMANUTENCAO",    "GEROUREMESSA",
                                                   "CODAUTORIZACAO",  "DOCTOAUTORIZACAO",
                                                   "CODBANDEIRA",     "CODPRODUTOBANDEIRA",
                                                   "ACRESCIMOBOLETO", "ACRESCIMOREMESSA"};
    return names;
}

const std::vector<std::string>& movementColumns() {
    static const std::vector<std::string> names = {
        "CODEMPRESA",       "TIPODOCTO",     "CODDOCTO",        "CODCLIENTE",    "TIPOMOV",         "NUMORD",
        "VALORMOV",         "VALORDESC",     "JUROSMULTA",      "DT_MOVIMENTO",  "DT_VENCIMENTO",   "CODBANCOPGTO",
        "CODFORMAPGTO",     "CONTACXA",      "DATAHORA",        "NOMEBANCOPGTO", "NUMDOCPGTO",      "SIST_MANU",
        "USUARIO",          "CODOPER",       "CONTAPGTO",       "CODAGENPGTO",   "ESTORNADO",       "CODBANCOANT",
        "CODCARTANT",       "CODBANCOAT",    "CODCARTAT",       "NUMORD2",       "ORDEMLIQRECEBER", "CODLIQVALOR",
        "OBSERVACAO",       "CODEMPRESAMOV", "CODLIQINTEGRADA", "NOSSONUMERO",   "AGENCIAAT",       "CONTAAT",
        "SEQUENCIAENCELIQ", "NUMSEQECF"};
    return names;
}

}  // namespace testsupport
