#include "LimitLoop.h"

#include "RawFirebird.h"
#include "transfer/Tables.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace bench {

using namespace Firebird;

namespace {

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

LimitTable limitTable(const std::string& table, const transfer::TableProfile& profile) {
    const std::vector<std::string> columns = upsertColumns(profile.upsertSql);
    LimitTable result;
    result.upsert = positionalMarkers(profile.upsertSql);
    std::string list;
    for (const std::string& column : columns) {
        list += (list.empty() ? "" : ", ") + column;
        bool dateOnly = false;
        for (const transfer::ColumnMapping& mapping : profile.columns)
            if (upper(mapping.parameter) == upper(column))
                dateOnly = mapping.write == transfer::WriteKind::Date;
        result.dateOnly.push_back(dateOnly);
    }
    result.select = "SELECT " + list + " FROM " + table + " WHERE CODEMPRESA = ?";
    return result;
}

template <typename T>
T load(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

template <typename T>
void store(unsigned char* bytes, const T& value) {
    std::memcpy(bytes, &value, sizeof value);
}

struct Column {
    unsigned type;
    unsigned length;
    unsigned offset;
    unsigned nullOffset;
    bool dateOnly;
};

class LimitCopy {
public:
    LimitCopy(IAttachment* branch, IAttachment* central, bool commitPerJob)
        : branch_(branch), central_(central), commitPerJob_(commitPerJob) {
        zeroDate_ = master()->getUtilInterface()->encodeDate(1899, 12, 30);
    }

    void copy(const LimitTable& table, const std::string& code, LimitTally& tally) {
        Status status;
        ITransaction* reading = startTransaction(branch_);
        IStatement* select = nullptr;
        IStatement* upsert = nullptr;
        IMessageMetadata* rowMetadata = nullptr;
        IMessageMetadata* codeMetadata = nullptr;
        IResultSet* cursor = nullptr;
        ITransaction* shared = nullptr;
        try {
            select = branch_->prepare(&status, reading, 0, table.select.c_str(), 1, IStatement::PREPARE_PREFETCH_METADATA);
            {
                ITransaction* preparing = startTransaction(central_);
                upsert = central_->prepare(&status, preparing, 0, table.upsert.c_str(), 1, 0);
                preparing->commit(&status);
            }
            rowMetadata = select->getOutputMetadata(&status);
            codeMetadata = select->getInputMetadata(&status);
            std::vector<unsigned char> codeBuffer(codeMetadata->getMessageLength(&status), 0);
            const unsigned codeLength = codeMetadata->getLength(&status, 0);
            std::memset(codeBuffer.data() + codeMetadata->getOffset(&status, 0), ' ', codeLength);
            std::memcpy(codeBuffer.data() + codeMetadata->getOffset(&status, 0), code.data(),
                        std::min<std::size_t>(code.size(), codeLength));

            std::vector<Column> columns;
            for (unsigned i = 0; i < rowMetadata->getCount(&status); ++i)
                columns.push_back({rowMetadata->getType(&status, i) & ~1u, rowMetadata->getLength(&status, i),
                                   rowMetadata->getOffset(&status, i), rowMetadata->getNullOffset(&status, i),
                                   table.dateOnly.at(i)});
            // The fetched row is the upsert's input message: same columns,
            // same order, same types.
            std::vector<unsigned char> row(rowMetadata->getMessageLength(&status), 0);

            cursor = select->openCursor(&status, reading, codeMetadata, codeBuffer.data(), rowMetadata, 0);
            if (commitPerJob_)
                shared = startTransaction(central_);
            while (cursor->fetchNext(&status, row.data()) == IStatus::RESULT_OK) {
                ITransaction* writing = shared ? shared : startTransaction(central_);
                try {
                    for (const Column& column : columns)
                        prepareValue(column, row.data(), reading, writing);
                    upsert->execute(&status, writing, rowMetadata, row.data(), nullptr, nullptr);
                    if (!shared)
                        writing->commit(&status);
                    ++tally.written;
                } catch (const FbException&) {
                    if (!shared)
                        rollbackQuietly(writing);
                    ++tally.failed;
                }
            }
            if (shared) {
                shared->commit(&status);
                shared = nullptr;
            }
            cursor->close(&status);
            cursor = nullptr;
            reading->commit(&status);
            reading = nullptr;
        } catch (const FbException& failure) {
            release(cursor, rowMetadata, codeMetadata, select, upsert);
            rollbackQuietly(shared);
            rollbackQuietly(reading);
            fail(failure, "limit loop over " + table.select);
        }
        release(cursor, rowMetadata, codeMetadata, select, upsert);
    }

private:
    static void release(IResultSet*& cursor, IMessageMetadata*& rowMetadata, IMessageMetadata*& codeMetadata,
                        IStatement*& select, IStatement*& upsert) {
        if (cursor)
            cursor->release();
        for (IMessageMetadata* metadata : {rowMetadata, codeMetadata})
            if (metadata)
                metadata->release();
        for (IStatement* statement : {select, upsert})
            if (statement)
                statement->release();
        cursor = nullptr;
        rowMetadata = codeMetadata = nullptr;
        select = upsert = nullptr;
    }

    // Turns the fetched value into the value the program writes.
    void prepareValue(const Column& column, unsigned char* row, ITransaction* reading, ITransaction* writing) {
        unsigned char* value = row + column.offset;
        const bool isNull = load<short>(row + column.nullOffset) != 0;
        store<short>(row + column.nullOffset, 0);
        switch (column.type) {
        case SQL_TEXT:
            if (isNull)
                std::memset(value, ' ', column.length);
            break;
        case SQL_VARYING:
            if (isNull)
                store<unsigned short>(value, 0);
            break;
        case SQL_TIMESTAMP: {
            auto stamp = load<ISC_TIMESTAMP>(value);
            if (isNull)
                stamp = ISC_TIMESTAMP{zeroDate_, 0};
            if (column.dateOnly)
                stamp.timestamp_time = 0;
            store(value, stamp);
            break;
        }
        case SQL_BLOB:
            copyBlob(value, isNull, reading, writing);
            break;
        default:  // numbers
            if (isNull)
                std::memset(value, 0, column.length);
            break;
        }
    }

    void copyBlob(unsigned char* value, bool isNull, ITransaction* reading, ITransaction* writing) {
        Status status;
        blobBytes_.clear();
        if (!isNull) {
            ISC_QUAD source = load<ISC_QUAD>(value);
            IBlob* in = branch_->openBlob(&status, reading, &source, 0, nullptr);
            char segment[32 * 1024];
            unsigned length = 0;
            while (in->getSegment(&status, sizeof segment, segment, &length) != IStatus::RESULT_NO_DATA)
                blobBytes_.append(segment, length);
            in->close(&status);
        }
        ISC_QUAD target{};
        IBlob* out = central_->createBlob(&status, writing, &target, 0, nullptr);
        if (!blobBytes_.empty())
            out->putSegment(&status, static_cast<unsigned>(blobBytes_.size()), blobBytes_.data());
        out->close(&status);
        store(value, target);
    }

    IAttachment* branch_;
    IAttachment* central_;
    bool commitPerJob_;
    ISC_DATE zeroDate_;
    std::string blobBytes_;
};

}  // namespace

std::vector<std::string> upsertColumns(const std::string& upsert) {
    const auto open = upsert.find('(');
    const auto close = upsert.find(')', open);
    if (open == std::string::npos || close == std::string::npos)
        throw std::invalid_argument("no column list in: " + upsert);
    std::vector<std::string> columns;
    std::string current;
    for (std::size_t i = open + 1; i <= close; ++i) {
        const char c = upsert[i];
        if (c == ',' || c == ')') {
            if (current.empty())
                throw std::invalid_argument("empty column name in: " + upsert);
            columns.push_back(current);
            current.clear();
        } else if (!std::isspace(static_cast<unsigned char>(c))) {
            current += c;
        }
    }
    return columns;
}

std::string positionalMarkers(const std::string& sql) {
    std::string result;
    for (std::size_t i = 0; i < sql.size(); ++i) {
        if (sql[i] == ':' && i + 1 < sql.size() &&
            (std::isalpha(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_')) {
            result += '?';
            while (i + 1 < sql.size() && (std::isalnum(static_cast<unsigned char>(sql[i + 1])) || sql[i + 1] == '_'))
                ++i;
        } else {
            result += sql[i];
        }
    }
    return result;
}

LimitTable limitDocuRec() { return limitTable("DOCUREC", transfer::docuRecProfile()); }
LimitTable limitMoviRec() { return limitTable("MOVIREC", transfer::moviRecProfile()); }

LimitTally runLimit(const std::string& branch, const std::string& central, const std::vector<std::string>& codes,
                    bool commitPerJob) {
    Attachment centralAttachment(central);
    Attachment branchAttachment(branch);
    LimitCopy copy(branchAttachment.get(), centralAttachment.get(), commitPerJob);
    const LimitTable documents = limitDocuRec();
    const LimitTable movements = limitMoviRec();
    LimitTally tally;
    for (const std::string& code : codes) {
        copy.copy(documents, code, tally);
        copy.copy(movements, code, tally);
    }
    return tally;
}

}  // namespace bench
