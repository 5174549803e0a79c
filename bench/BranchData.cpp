#include "BranchData.h"

#include "RawFirebird.h"
#include "db/DateTime.h"
#include "TestDatabases.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>

namespace bench {

using namespace Firebird;

namespace {

// Texts as a Windows branch keeps them: Windows-1252 bytes, and now and then
// a row typed through something that stored UTF-8.
const char* const kObservacoes1252[] = {
    "Venda a prazo, 30/60/90 dias",
    "Pagamento em esp\xe9" "cie na loja",
    "Cliente S\xe3o Jo\xe3o da Boa Vista - renegocia\xe7\xe3o",
    "Duplicata avulsa; confer\xeancia pendente",
    "Devolu\xe7\xe3o parcial, cr\xe9" "dito concedido",
    "Cobran\xe7" "a banc\xe1ria - aten\xe7\xe3o ao vencimento",
    "Acr\xe9scimo de 2% ap\xf3s o vencimento",
};
const char* const kObservacoesUtf8[] = {
    "Liquidação antecipada — desconto financeiro",
    "Conceição: ligar após as 14h",
};
const char* const kUsuarios[] = {"MARIA", "JO\xc3O", "CONCEI\xc7\xc3O", "ANDR\xc9", "PAULO", "F\xc1TIMA"};
const char* const kBancos[] = {"001", "237", "341", "104", "033", "748"};
const char* const kNomesBancos[] = {"BANCO DO BRASIL", "BRADESCO", "ITA\xda UNIBANCO", "CAIXA ECON\xd4MICA FEDERAL",
                                    "SANTANDER", "SICREDI"};
const char* const kTiposDocto[] = {"DP", "NF", "CH", "BL", "CC"};
const char* const kFormasPgto[] = {"DIN", "CHQ", "BOL", "PIX", "CRT"};
const char* const kNotas[] = {
    "Cliente pediu boleto por e-mail.", "Ligar antes do vencimento.",
    "Endere\xe7o de cobran\xe7" "a: Rua das Ac\xe1" "cias, 120 - Centro.",
    "Negocia\xe7\xe3o aprovada pelo ger\xeancia regional.", "N\xe3o aceitar cheque de terceiros.",
    "Mercadoria entregue com avaria; abatimento combinado.", "Protesto suspenso at\xe9 nova ordem.",
};

template <typename T, std::size_t N>
const T& pick(std::mt19937& random, const T (&items)[N]) {
    return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

bool chance(std::mt19937& random, double probability) {
    return std::uniform_real_distribution<double>(0, 1)(random) < probability;
}

long between(std::mt19937& random, long low, long high) {
    return std::uniform_int_distribution<long>(low, high)(random);
}

std::string digits(std::mt19937& random, int count) {
    std::string text;
    for (int i = 0; i < count; ++i)
        text += static_cast<char>('0' + between(random, 0, 9));
    return text;
}

// prefix + text, spelled so that GCC 12 does not warn falsely (-Wrestrict).
std::string prefixed(const char* prefix, const std::string& text) {
    std::string result(prefix);
    result += text;
    return result;
}

std::string money(std::mt19937& random, long maxCents) {
    const long cents = between(random, 1, maxCents);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%ld.%02ld", cents / 100, cents % 100);
    return buffer;
}

std::string decimal(std::mt19937& random, long maxUnits, int decimals) {
    long scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    const long value = between(random, 0, maxUnits * scale);
    std::string fraction = std::to_string(value % scale);
    fraction.insert(0, static_cast<std::size_t>(decimals) - std::min<std::size_t>(fraction.size(), decimals), '0');
    return std::to_string(value / scale) + "." + fraction;
}

// A date `days` after 1970-01-01 with a time of day, in the text form the
// server parses into a timestamp.
std::string dateText(long days, long secondsOfDay, int tenThousandths = 0) {
    constexpr long kFirebirdDayOf1970 = 40587;  // Firebird counts days from 1858-11-17
    return db::DateTime::fromFirebird(static_cast<std::int32_t>(days + kFirebirdDayOf1970),
                                      static_cast<std::uint32_t>(secondsOfDay * 10000 + tenThousandths))
        .toText();
}

constexpr long kFirstDay = 17532;  // 2018-01-01

long workingSeconds(std::mt19937& random) { return between(random, 8 * 3600, 19 * 3600 - 1); }

std::optional<std::string> maybe(std::mt19937& random, double nullRate, std::string value) {
    if (chance(random, nullRate))
        return std::nullopt;
    return value;
}

std::string observacao(std::mt19937& random) {
    return chance(random, 0.15) ? std::string(pick(random, kObservacoesUtf8)) : std::string(pick(random, kObservacoes1252));
}

std::string notes(std::mt19937& random) {
    const long target = between(random, 200, 700);
    std::string text;
    while (static_cast<long>(text.size()) < target) {
        text += pick(random, kNotas);
        text += "\r\n";
    }
    return text;
}

// Positions of the columns the movements repeat from their document.
enum DocumentColumn { kEmpresa = 0, kTipoDocto = 1, kCodDocto = 2, kCliente = 3, kVenda = 4, kVencimento = 6 };

}  // namespace

BranchRowSource::BranchRowSource(unsigned seed) : random_(seed) {}

const std::vector<std::string>& BranchRowSource::documentColumns() {
    static const std::vector<std::string> names = {
        "CODEMPRESA",      "TIPODOCTO",       "CODDOCTO",        "CODCLIENTE",         "DT_VENDA",
        "DT_EMISSAO",      "DT_VENCIMENTO",   "CODMOEDA",        "VALORVENDA",         "VALORDOCTO",
        "VALORDESC",       "VALORPAGO",       "VALORDEVOL",      "NOSSONUMERO",        "NUMORD",
        "NUMDOCORIG",      "CODBANCO",        "CODVENDEDOR",     "CODCART",            "COMISSAO",
        "CONTACXA",        "EMITIUBOLETA",    "SIST_MANU",       "SITUACAO",           "OBSERVACAO",
        "CODOPER",         "ORDEM",           "QUANTITENS",      "TXANTECIP",          "DESPADIC",
        "ANOTACOES",       "NUMDOCBCO",       "TIPOVINCULO",     "CODVINCULO",         "CODPLANOVINCULO",
        "CODFORMAVINCULO", "TAXARETENCAO",    "CODPROJ",         "DESCFINANC",         "CODCOBRADOR",
        "TXMANUTENCAO",    "GEROUREMESSA",    "CODAUTORIZACAO",  "DOCTOAUTORIZACAO",   "CODBANDEIRA",
        "CODPRODUTOBANDEIRA", "ACRESCIMOBOLETO", "ACRESCIMOREMESSA", "DT_ALTERACAO",   "USUARIO_ALT"};
    return names;
}

std::size_t BranchRowSource::documentBlobColumn() { return 30; }

const std::vector<std::string>& BranchRowSource::movementColumns() {
    static const std::vector<std::string> names = {
        "CODEMPRESA",   "TIPODOCTO",     "CODDOCTO",        "NUMORD",        "CODCLIENTE",    "TIPOMOV",
        "VALORMOV",     "VALORDESC",     "JUROSMULTA",      "DT_MOVIMENTO",  "DT_VENCIMENTO", "CODBANCOPGTO",
        "CODFORMAPGTO", "CONTACXA",      "DATAHORA",        "NOMEBANCOPGTO", "NUMDOCPGTO",    "SIST_MANU",
        "USUARIO",      "CODOPER",       "CONTAPGTO",       "CODAGENPGTO",   "ESTORNADO",     "CODBANCOANT",
        "CODCARTANT",   "CODBANCOAT",    "CODCARTAT",       "NUMORD2",       "ORDEMLIQRECEBER", "CODLIQVALOR",
        "OBSERVACAO",   "CODEMPRESAMOV", "CODLIQINTEGRADA", "NOSSONUMERO",   "AGENCIAAT",     "CONTAAT",
        "SEQUENCIAENCELIQ", "NUMSEQECF", "DT_ALTERACAO",    "USUARIO_ALT"};
    return names;
}

GeneratedRow BranchRowSource::document(long number) {
    std::mt19937& r = random_;
    const long sale = kFirstDay + between(r, 0, 2500);
    const bool card = chance(r, 0.25);
    GeneratedRow row;
    row.reserve(documentColumns().size());
    row.push_back(std::string(number % 5 < 3 ? "01" : "02"));
    row.push_back(std::string(pick(r, kTiposDocto)));
    row.push_back(std::to_string(100000 + number));
    row.push_back(prefixed("C", digits(r, 5)));
    row.push_back(maybe(r, 0.05, dateText(sale, workingSeconds(r))));
    row.push_back(maybe(r, 0.05, chance(r, 0.5) ? dateText(sale, 0) : dateText(sale, workingSeconds(r))));
    row.push_back(maybe(r, 0.03, dateText(sale + 30 * between(r, 1, 4), 0)));
    row.push_back(maybe(r, 0.10, "R$"));
    row.push_back(money(r, 5000000));
    row.push_back(maybe(r, 0.02, money(r, 5000000)));
    row.push_back(maybe(r, 0.30, money(r, 20000)));
    row.push_back(maybe(r, 0.40, money(r, 5000000)));
    row.push_back(maybe(r, 0.80, money(r, 100000)));
    row.push_back(maybe(r, 0.30, digits(r, 11)));
    row.push_back(std::to_string(between(r, 1, 12)));
    row.push_back(maybe(r, 0.20, prefixed("NF-", digits(r, 6))));
    row.push_back(maybe(r, 0.15, pick(r, kBancos)));
    row.push_back(maybe(r, 0.10, prefixed("V", digits(r, 2))));
    row.push_back(maybe(r, 0.20, digits(r, 3)));
    row.push_back(maybe(r, 0.20, decimal(r, 5, 4)));
    row.push_back(maybe(r, 0.10, prefixed("1.1.0", digits(r, 1))));
    row.push_back(chance(r, 0.5) ? "S" : "N");
    row.push_back(maybe(r, 0.05, chance(r, 0.9) ? "S" : "N"));
    row.push_back(std::string(1, "AQC"[between(r, 0, 2)]));
    row.push_back(maybe(r, 0.35, observacao(r)));
    row.push_back(maybe(r, 0.10, chance(r, 0.8) ? "VENDA" : "RENEG"));
    // ORDEM and, in the movements, DATAHORA are read as text and written as
    // text: a NULL would arrive as empty text, which the server rejects for
    // a number or a date, so that row would fail by design. Branches fill
    // them always; so does this data.
    row.push_back(std::to_string(between(r, 1, 9)));
    row.push_back(maybe(r, 0.10, decimal(r, 50, 3)));
    row.push_back(maybe(r, 0.60, decimal(r, 3, 4)));
    row.push_back(maybe(r, 0.50, money(r, 5000)));
    row.push_back(chance(r, 0.05) ? std::string() : std::optional<std::string>(maybe(r, 0.20, notes(r))));
    row.push_back(maybe(r, 0.40, digits(r, 9)));
    row.push_back(maybe(r, 0.50, chance(r, 0.5) ? "P" : "N"));
    row.push_back(maybe(r, 0.50, prefixed("PED-", digits(r, 5))));
    row.push_back(maybe(r, 0.50, prefixed("PL", digits(r, 1))));
    row.push_back(maybe(r, 0.50, chance(r, 0.5) ? "BOL" : "CART"));
    row.push_back(maybe(r, 0.60, decimal(r, 2, 4)));
    row.push_back(maybe(r, 0.50, std::to_string(between(r, 1, 400))));
    row.push_back(maybe(r, 0.50, money(r, 10000)));
    row.push_back(maybe(r, 0.40, prefixed("K", digits(r, 2))));
    row.push_back(maybe(r, 0.70, decimal(r, 1, 4)));
    row.push_back(chance(r, 0.3) ? "S" : "N");
    row.push_back(card ? std::optional<std::string>(prefixed("AUT", digits(r, 6))) : std::nullopt);
    row.push_back(card ? std::optional<std::string>(prefixed("DOC", digits(r, 8))) : std::nullopt);
    row.push_back(card ? std::optional<std::string>(chance(r, 0.6) ? "VISA" : "MASTE") : std::nullopt);
    row.push_back(card ? std::optional<std::string>(chance(r, 0.7) ? "CRED" : "DEB") : std::nullopt);
    row.push_back(maybe(r, 0.60, money(r, 900)));
    row.push_back(maybe(r, 0.60, money(r, 900)));
    row.push_back(dateText(sale + between(r, 0, 60), workingSeconds(r)));
    row.push_back(std::string(pick(r, kUsuarios)));
    lastDocument_ = row;
    lastMovementCount_ = static_cast<int>(between(r, 0, 6));
    return row;
}

GeneratedRow BranchRowSource::movement(int instalment) {
    std::mt19937& r = random_;
    const GeneratedRow& document = lastDocument_;
    const long day = kFirstDay + between(r, 0, 2600);
    const std::string numOrd = std::to_string(instalment);
    GeneratedRow row;
    row.reserve(movementColumns().size());
    row.push_back(document[kEmpresa]);
    row.push_back(document[kTipoDocto]);
    row.push_back(document[kCodDocto]);
    row.push_back(numOrd);
    row.push_back(document[kCliente]);
    row.push_back(maybe(r, 0.05, std::string(1, "PDJE"[between(r, 0, 3)])));
    row.push_back(money(r, 2000000));
    row.push_back(maybe(r, 0.50, money(r, 5000)));
    row.push_back(maybe(r, 0.60, money(r, 3000)));
    row.push_back(maybe(r, 0.03, dateText(day, workingSeconds(r))));
    row.push_back(maybe(r, 0.05, document[kVencimento].value_or(dateText(day, 0))));
    row.push_back(maybe(r, 0.20, pick(r, kBancos)));
    row.push_back(maybe(r, 0.10, pick(r, kFormasPgto)));
    row.push_back(maybe(r, 0.10, prefixed("1.1.0", digits(r, 1))));
    row.push_back(dateText(day, workingSeconds(r), static_cast<int>(between(r, 1, 9999))));
    row.push_back(maybe(r, 0.25, pick(r, kNomesBancos)));
    std::string receipt = "REC-";
    receipt.append(*document[kCodDocto]).append(1, '-').append(numOrd);
    row.push_back(maybe(r, 0.20, receipt));
    row.push_back(maybe(r, 0.05, chance(r, 0.9) ? "S" : "N"));
    row.push_back(maybe(r, 0.05, pick(r, kUsuarios)));
    row.push_back(maybe(r, 0.10, chance(r, 0.8) ? "BAIXA" : "ESTORNO"));
    row.push_back(maybe(r, 0.40, digits(r, 5) + prefixed("-", digits(r, 1))));
    row.push_back(maybe(r, 0.40, digits(r, 4)));
    row.push_back(chance(r, 0.03) ? "S" : "N");
    row.push_back(maybe(r, 0.50, pick(r, kBancos)));
    row.push_back(maybe(r, 0.50, digits(r, 3)));
    row.push_back(maybe(r, 0.50, pick(r, kBancos)));
    row.push_back(maybe(r, 0.50, digits(r, 2)));
    row.push_back(maybe(r, 0.30, numOrd));
    row.push_back(maybe(r, 0.50, std::to_string(between(r, 1, 99))));
    row.push_back(maybe(r, 0.50, std::to_string(between(r, 1, 9999))));
    row.push_back(maybe(r, 0.40, observacao(r)));
    row.push_back(maybe(r, 0.10, document[kEmpresa].value_or("01")));
    row.push_back(maybe(r, 0.50, std::to_string(between(r, 1, 500))));
    row.push_back(maybe(r, 0.30, digits(r, 11)));
    row.push_back(maybe(r, 0.40, digits(r, 4)));
    row.push_back(maybe(r, 0.40, digits(r, 6) + prefixed("-", digits(r, 1))));
    row.push_back(maybe(r, 0.50, std::to_string(between(r, 1, 50000))));
    row.push_back(maybe(r, 0.70, digits(r, 6)));
    row.push_back(dateText(day + between(r, 0, 5), workingSeconds(r)));
    row.push_back(std::string(pick(r, kUsuarios)));
    return row;
}

namespace {

// One prepared INSERT whose parameters all travel as text (the server
// converts them to the column types), except one optional blob.
class BulkInsert {
public:
    static constexpr unsigned kTextCapacity = 1024;

    BulkInsert(IAttachment* attachment, const std::string& table, const std::vector<std::string>& columns,
               std::optional<std::size_t> blobColumn)
        : attachment_(attachment), blobColumn_(blobColumn) {
        std::string names, markers;
        for (const std::string& column : columns) {
            names += (names.empty() ? "" : ", ") + column;
            markers += markers.empty() ? "?" : ", ?";
        }
        const std::string sql = "INSERT INTO " + table + " (" + names + ") VALUES (" + markers + ")";
        Status status;
        transaction_ = startTransaction(attachment_);
        statement_ = attachment_->prepare(&status, transaction_, 0, sql.c_str(), 1, 0);
        IMetadataBuilder* builder = master()->getMetadataBuilder(&status, static_cast<unsigned>(columns.size()));
        for (unsigned i = 0; i < columns.size(); ++i) {
            if (blobColumn_ && i == *blobColumn_) {
                builder->setType(&status, i, SQL_BLOB + 1);
                builder->setSubType(&status, i, 1);
                builder->setLength(&status, i, sizeof(ISC_QUAD));
            } else {
                builder->setType(&status, i, SQL_VARYING + 1);
                builder->setLength(&status, i, kTextCapacity);
                builder->setCharSet(&status, i, 0);
            }
        }
        metadata_ = builder->getMetadata(&status);
        builder->release();
        buffer_.assign(metadata_->getMessageLength(&status), 0);
        for (unsigned i = 0; i < columns.size(); ++i) {
            offsets_.push_back(metadata_->getOffset(&status, i));
            nullOffsets_.push_back(metadata_->getNullOffset(&status, i));
        }
    }

    ~BulkInsert() {
        rollbackQuietly(transaction_);
        if (metadata_)
            metadata_->release();
        if (statement_)
            statement_->release();
    }

    void insert(const GeneratedRow& row) {
        Status status;
        for (std::size_t i = 0; i < row.size(); ++i) {
            short isNull = row[i] ? 0 : -1;
            std::memcpy(buffer_.data() + nullOffsets_[i], &isNull, sizeof isNull);
            if (!row[i])
                continue;
            const std::string& value = *row[i];
            unsigned char* field = buffer_.data() + offsets_[i];
            if (blobColumn_ && i == *blobColumn_) {
                ISC_QUAD id{};
                IBlob* blob = attachment_->createBlob(&status, transaction_, &id, 0, nullptr);
                if (!value.empty())
                    blob->putSegment(&status, static_cast<unsigned>(value.size()), value.data());
                blob->close(&status);
                std::memcpy(field, &id, sizeof id);
            } else {
                if (value.size() > kTextCapacity)
                    throw std::logic_error("generated value longer than the insert allows");
                const auto length = static_cast<unsigned short>(value.size());
                std::memcpy(field, &length, sizeof length);
                std::memcpy(field + sizeof length, value.data(), value.size());
            }
        }
        statement_->execute(&status, transaction_, metadata_, buffer_.data(), nullptr, nullptr);
        if (++pending_ == 5000)
            commit();
    }

    void commit() {
        Status status;
        transaction_->commit(&status);
        transaction_ = nullptr;
        transaction_ = startTransaction(attachment_);
        pending_ = 0;
    }

private:
    IAttachment* attachment_;
    std::optional<std::size_t> blobColumn_;
    ITransaction* transaction_ = nullptr;
    IStatement* statement_ = nullptr;
    IMessageMetadata* metadata_ = nullptr;
    std::vector<unsigned char> buffer_;
    std::vector<unsigned> offsets_;
    std::vector<unsigned> nullOffsets_;
    int pending_ = 0;
};

}  // namespace

BranchCounts generateBranch(const std::string& path, long documents, unsigned seed) {
    testsupport::createBranchDatabase(path);
    Attachment attachment(path);
    BranchRowSource source(seed);
    BranchCounts counts;
    try {
        BulkInsert documentInsert(attachment.get(), "DOCUREC", BranchRowSource::documentColumns(),
                                  BranchRowSource::documentBlobColumn());
        BulkInsert movementInsert(attachment.get(), "MOVIREC", BranchRowSource::movementColumns(), std::nullopt);
        for (long number = 0; number < documents; ++number) {
            documentInsert.insert(source.document(number));
            ++counts.documents;
            for (int instalment = 1; instalment <= source.movementCountForLastDocument(); ++instalment) {
                movementInsert.insert(source.movement(instalment));
                ++counts.movements;
            }
        }
        documentInsert.commit();
        movementInsert.commit();
    } catch (const FbException& failure) {
        fail(failure, "fill " + path);
    }
    return counts;
}

namespace {

// Attaches once with one more DPB item, as gfix does to change a setting
// kept in the database header.
void attachWith(const std::string& path, unsigned char tag, int value, const std::string& what) {
    try {
        Status status;
        IXpbBuilder* dpb = master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
        dpb->insertString(&status, isc_dpb_password, "plumtrove");
        dpb->insertInt(&status, tag, value);
        IAttachment* attachment =
            provider()->attachDatabase(&status, path.c_str(), dpb->getBufferLength(&status), dpb->getBuffer(&status));
        dpb->dispose();
        attachment->detach(&status);
    } catch (const FbException& failure) {
        fail(failure, what + " in " + path);
    }
}

}  // namespace

void createCentral(const std::string& path, bool forcedWrites) {
    testsupport::createCentralDatabase(path);
    if (!forcedWrites)
        attachWith(path, isc_dpb_force_write, 0, "turn forced writes off");
}

void setPageBuffers(const std::string& path, int pages) {
    attachWith(path, isc_dpb_set_page_buffers, pages, "set the page cache size");
}

BranchCounts countRows(const std::string& path) {
    return BranchCounts{static_cast<long>(testsupport::countRows(path, "DOCUREC")),
                        static_cast<long>(testsupport::countRows(path, "MOVIREC"))};
}

}  // namespace bench
