#include "transfer/BlockWrites.h"

#include <algorithm>

#include "db/Connection.h"
#include "db/ConnectionParameters.h"
#include "db/DeclaredStatement.h"
#include "db/Error.h"
#include "db/LocalFile.h"
#include "db/Statement.h"
#include "db/SystemTables.h"

namespace transfer {

namespace {

// An UPDATE OR INSERT uses three of a statement's 256 relation contexts.
constexpr int kMostRowsPerBlock = 85;
// A bound on one statement's input message. Firebird 3 takes messages well
// past 64 KB (a block of 85 documents with their notes as text is about
// 160 KB); a server that refuses one is given a smaller block.
constexpr unsigned kMessageLimit = 1024 * 1024;
// A MERGE uses one relation context per source row, and a few of its own.
constexpr int kMostRowsPerMerge = 250;
// A statement takes at most this many parameters.
constexpr unsigned kMostParameters = 32767;
// MERGEs that fail in a row while every one of their rows then goes in:
// the server refuses them for themselves (their size), not for a row.
constexpr int kMergeMissesTolerated = 3;
}  // namespace

void setParameter(const ColumnValue& value, db::Statement& central) { setParameter(central, value.parameter, value); }

BlockWrites::BlockWrites(db::Statement& central, const TableProfile& profile, int& executions, int rowsPerStatement,
                         int rowsPerCommit, bool mergeRows)
    : central_(central),
      profile_(profile),
      executions_(&executions),
      rowsPerStatement_(rowsPerStatement),
      rowsPerCommit_(rowsPerCommit),
      mergeRows_(mergeRows) {}

BlockWrites::~BlockWrites() = default;

int BlockWrites::capacity() {
    if (!learnt_) {
        learnt_ = true;
        try {
            learnLayout();
        } catch (const db::Error& failure) {
            if (failure.connectionLost()) throw;
            block_.reset();
            merge_.reset();
            capacity_ = 1;
            mergeCapacity_ = 0;
        }
    }
    return std::max(capacity_, mergeCapacity_);
}

// Blocks are used when the upsert has the expected shape, every one of its
// parameters is set by the profile in one write kind, and the central table
// has every column it names.
void BlockWrites::learnLayout() {
    int rows = std::min(kMostRowsPerBlock, rowsPerCommit_);
    if (rowsPerStatement_ > 0) rows = std::min(rows, rowsPerStatement_);
    if (rows <= 1) return;
    if (rowsPerStatement_ == 0 && db::isLocalPath(central_.connection().attachedDatabase())) return;
    std::optional<UpsertLayout> layout = readUpsertLayout(central_.connection(), profile_);
    if (!layout) return;
    layout_ = std::move(*layout);
    auto messageLength = [&](int count) {
        unsigned offset = placeInput(0, UpsertInput{WriteKind::Integer, {}, {}, 0, 0});
        for (int row = 0; row < count; ++row)
            for (const UpsertInput& input : layout_.inputs) offset = placeInput(offset, input);
        return offset;
    };
    while (rows > 1 && messageLength(rows) > kMessageLimit) --rows;
    capacity_ = rows;
    // With MERGEs the blocks only take what a MERGE fails: a large block
    // costs the server a fifth of a second to prepare, so it is prepared at
    // its first use, if any.
    if (mergeRows_ && layout_.plainUpsert) learnMerge();
    if (!merge_) prepareBlocks();
}

// A server that refuses the block (its own limits) gets a smaller one; one
// that refuses them all leaves every row alone.
void BlockWrites::prepareBlocks() {
    for (; capacity_ > 1; capacity_ = capacity_ * 3 / 4)
        if (prepareBlock(capacity_)) return;
    capacity_ = 1;
    block_.reset();
}

// A MERGE matches on the primary key, which the upsert must set.
void BlockWrites::learnMerge() {
    try {
        for (const std::string& keyColumn : db::readPrimaryKey(central_.connection(), layout_.table)) {
            const auto found = std::find(layout_.columns.begin(), layout_.columns.end(), upperName(keyColumn));
            if (found == layout_.columns.end() || !isPlainName(*found)) return;
            keyMarkers_.push_back(static_cast<std::size_t>(found - layout_.columns.begin()));
        }
        if (keyMarkers_.empty()) return;
        int rows = std::min(kMostRowsPerMerge, rowsPerCommit_);
        if (rowsPerStatement_ > 0) rows = std::min(rows, rowsPerStatement_);
        rows = std::min(rows, static_cast<int>((kMostParameters - 1) / layout_.inputs.size()));
        // Every input as the text or value it travels as, notes as text.
        auto messageLength = [&](int count) {
            unsigned offset = 0;
            for (int row = 0; row < count; ++row)
                for (UpsertInput input : layout_.inputs) {
                    if (input.kind == WriteKind::Blob) input.kind = WriteKind::Text;
                    offset = placeInput(offset, input);
                }
            return offset;
        };
        while (rows > 1 && messageLength(rows) > kMessageLimit) --rows;
        for (; rows > 1; rows = rows * 3 / 4) {
            if (prepareMerge(rows)) {
                mergeCapacity_ = rows;
                return;
            }
        }
    } catch (const db::Error& failure) {
        if (failure.connectionLost()) throw;
    }
    merge_.reset();
}

bool BlockWrites::prepareMerge(int rows) {
    try {
        merge_ = std::make_unique<db::DeclaredStatement>(central_.connection(), mergeText(rows));
        merge_->prepare();
        return merge_->messageLength() <= kMessageLimit;
    } catch (const db::Error& failure) {
        if (failure.connectionLost()) throw;
        return false;
    }
}

// MERGE INTO table T USING (SELECT CAST(? AS type) C0, ..., 0 N FROM
// RDB$DATABASE UNION ALL ...) S ON (the key) WHEN MATCHED THEN UPDATE SET
// every column WHEN NOT MATCHED THEN INSERT every column. A source row per
// branch row, a column per distinct parameter, notes as their text; the last
// input says how many source rows hold values, so one statement serves a
// shorter chunk.
std::string BlockWrites::mergeText(int rows) const {
    auto source = [](std::size_t input) { return "S.C" + std::to_string(input); };
    std::string row;
    for (std::size_t index = 0; index < layout_.inputs.size(); ++index)
        row += "CAST(? AS " + layout_.inputs[index].type + ") C" + std::to_string(index) + ", ";
    std::string sourceRows;
    for (int number = 0; number < rows; ++number)
        sourceRows +=
            (number ? "\nUNION ALL SELECT " : "SELECT ") + row + std::to_string(number) + " N FROM RDB$DATABASE";
    std::string match;
    for (const std::size_t marker : keyMarkers_)
        match += (match.empty() ? "T." : " AND T.") + layout_.columns[marker] + " = " +
                 source(static_cast<std::size_t>(layout_.inputOfMarker[marker]));
    std::string updates, insertColumns, insertValues;
    for (std::size_t marker = 0; marker < layout_.columns.size(); ++marker) {
        const std::string value = source(static_cast<std::size_t>(layout_.inputOfMarker[marker]));
        const char* comma = marker ? ", " : "";
        updates += comma + layout_.columns[marker] + " = " + value;
        insertColumns += comma + layout_.columns[marker];
        insertValues += comma + value;
    }
    return "MERGE INTO " + layout_.table + " T USING (SELECT * FROM (" + sourceRows + ") R WHERE R.N < ?) S ON (" + match +
           ")\nWHEN MATCHED THEN UPDATE SET " + updates + "\nWHEN NOT MATCHED THEN INSERT (" + insertColumns +
           ") VALUES (" + insertValues + ")";
}

bool BlockWrites::prepareBlock(int rows) {
    try {
        block_ = std::make_unique<db::DeclaredStatement>(central_.connection(), blockText(rows));
        block_->prepare();
        return block_->messageLength() <= kMessageLimit;
    } catch (const db::Error& failure) {
        if (failure.connectionLost()) throw;
        return false;
    }
}

// GIVEN says how many of the block's rows hold values; OUTCOME has a '0' for
// every row written and a '1' for the row that failed, after which STOPPED
// keeps the remaining rows out. The one SUSPEND hands OUTCOME back with the
// execute: an EXECUTE BLOCK that returns values is a select.
std::string BlockWrites::blockText(int rows) const {
    auto inputName = [](const char* prefix, int row, std::size_t input) {
        return std::string(prefix) + std::to_string(row) + "_" + std::to_string(input);
    };
    std::string declarations = "GIVEN INTEGER = ?";
    std::string variables;
    for (std::size_t index = 0; index < layout_.inputs.size(); ++index)
        if (layout_.inputs[index].kind == WriteKind::Blob)
            variables += "DECLARE VARIABLE X" + std::to_string(index) + " " + layout_.inputs[index].blobType + ";\n";
    std::string statements;
    for (int row = 0; row < rows; ++row) {
        std::string assignments;
        for (std::size_t index = 0; index < layout_.inputs.size(); ++index) {
            const UpsertInput& input = layout_.inputs[index];
            declarations += ",\n" + inputName("V", row, index) + " " + input.type + " = ?";
            if (input.kind != WriteKind::Blob) continue;
            declarations += ",\n" + inputName("B", row, index) + " " + input.blobType + " = ?";
            const std::string variable = "X" + std::to_string(index);
            assignments += "    " + variable + " = :" + inputName("V", row, index) +
                           ";\n    IF (:" + inputName("B", row, index) + " IS NOT NULL) THEN " + variable +
                           " = :" + inputName("B", row, index) + ";\n";
        }
        std::string upsert = layout_.bodyPieces[0];
        for (std::size_t marker = 0; marker < layout_.inputOfMarker.size(); ++marker) {
            const auto input = static_cast<std::size_t>(layout_.inputOfMarker[marker]);
            upsert += layout_.inputs[input].kind == WriteKind::Blob ? ":X" + std::to_string(input)
                                                             : ":" + inputName("V", row, input);
            upsert += layout_.bodyPieces[marker + 1];
        }
        statements +=
            "  IF (STOPPED = 0 AND GIVEN > " + std::to_string(row) + ") THEN\n  BEGIN\n" + assignments + "    " +
            upsert +
            ";\n    OUTCOME = OUTCOME || '0';\n"
            "    WHEN ANY DO\n    BEGIN\n      OUTCOME = OUTCOME || '1';\n      STOPPED = 1;\n    END\n  END\n";
    }
    return "EXECUTE BLOCK (\n" + declarations + ")\nRETURNS (OUTCOME VARCHAR(" + std::to_string(rows) +
           ") CHARACTER SET NONE)\nAS\nDECLARE VARIABLE STOPPED SMALLINT = 0;\n" + variables +
           "BEGIN\n  OUTCOME = '';\n" + statements + "  SUSPEND;\nEND";
}

bool BlockWrites::fits(const RowValues& row) const {
    return std::all_of(row.begin(), row.end(), [&](const ColumnValue& value) {
        const UpsertInput& input =
            layout_.inputs[static_cast<std::size_t>(layout_.inputOfMapping[value.mapping - profile_.columns.data()])];
        return input.kind != WriteKind::Text || value.bytes.size() <= input.textCapacity;
    });
}

void BlockWrites::setRow(unsigned firstPosition, const RowValues& row, db::Transaction& transaction) {
    for (const ColumnValue& value : row) {
        const UpsertInput& input =
            layout_.inputs[static_cast<std::size_t>(layout_.inputOfMapping[value.mapping - profile_.columns.data()])];
        const unsigned position = firstPosition + input.firstPosition;
        switch (input.kind) {
            case WriteKind::Text:
                block_->setText(position, value.bytes);
                break;
            case WriteKind::Double:
                block_->setDouble(position, value.number);
                break;
            case WriteKind::Date:
                block_->setDate(position, value.date);
                break;
            case WriteKind::Integer:
                block_->setInteger(position, value.integer);
                break;
            case WriteKind::Blob:
                if (value.bytes.size() <= input.textCapacity)
                    block_->setText(position, value.bytes);
                else
                    block_->setBlob(position + 1, value.bytes, transaction);
                break;
        }
    }
}

std::optional<std::string> BlockWrites::writeAlone(const RowValues& row, db::Transaction& transaction) {
    try {
        for (const ColumnValue& value : row) setParameter(value, central_);
        ++*executions_;
        central_.execute(transaction);
        return std::nullopt;
    } catch (const std::exception& failure) {
        if (db::isConnectionLost(failure)) throw;
        return failure.what();
    }
}

void BlockWrites::writeRun(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                           db::Transaction& transaction, const Outcome& outcome) {
    while (begin < end) {
        std::string flags;
        try {
            block_->clear();
            block_->setInteger(0, static_cast<std::int32_t>(end - begin));
            for (std::size_t row = begin; row < end; ++row)
                setRow(1 + static_cast<unsigned>(row - begin) * layout_.inputsPerRow, *rows[row], transaction);
            ++*executions_;
            flags = block_->execute(transaction);
        } catch (const db::Error& failure) {
            if (failure.connectionLost()) throw;
            // The statement as a whole was refused (a value its inputs could
            // not take): nothing of it stands, and the rows go one by one.
            for (std::size_t row = begin; row < end; ++row) outcome(writeAlone(*rows[row], transaction));
            return;
        }
        const std::size_t written = std::min({flags.find('1'), flags.size(), end - begin});
        for (std::size_t row = 0; row < written; ++row) outcome(std::nullopt);
        begin += written;
        if (begin == end) return;
        // The row that failed (or the first one a short answer left out)
        // alone, for the database's own message.
        outcome(writeAlone(*rows[begin], transaction));
        ++begin;
    }
}

bool BlockWrites::fitsMerge(const RowValues& row) const {
    return std::all_of(row.begin(), row.end(), [&](const ColumnValue& value) {
        const UpsertInput& input =
            layout_.inputs[static_cast<std::size_t>(layout_.inputOfMapping[value.mapping - profile_.columns.data()])];
        return (input.kind != WriteKind::Text && input.kind != WriteKind::Blob) ||
               value.bytes.size() <= input.textCapacity;
    });
}

// The row's key with letter case and trailing blanks taken out: two rows a
// case-insensitive or padded key makes one must not meet in one MERGE, where
// they would update one row twice in no promised order.
std::string BlockWrites::keyOf(const RowValues& row) const {
    std::string key;
    for (const std::size_t marker : keyMarkers_)
        for (const ColumnValue& value : row) {
            const int input = layout_.inputOfMarker[marker];
            if (layout_.inputOfMapping[value.mapping - profile_.columns.data()] != input) continue;
            switch (value.kind) {
                case WriteKind::Text:
                case WriteKind::Blob:
                    key += upperName(value.bytes.substr(0, value.bytes.find_last_not_of(' ') + 1));
                    break;
                case WriteKind::Double:
                    key += std::to_string(value.number);
                    break;
                case WriteKind::Date:
                    key += std::to_string(value.date.dateOnly().firebirdDate());
                    break;
                case WriteKind::Integer:
                    key += std::to_string(value.integer);
                    break;
            }
            key += '\0';
            break;
        }
    return key;
}

// The rows from `begin` one MERGE takes: as many as it holds that carry
// their notes as text, up to a second row of one key.
std::size_t BlockWrites::mergeEnd(const std::vector<const RowValues*>& rows, std::size_t begin) const {
    if (!merge_) return begin;
    std::vector<std::string> keys;
    std::size_t end = begin;
    for (; end < rows.size() && end - begin < static_cast<std::size_t>(mergeCapacity_) && fitsMerge(*rows[end]);
         ++end) {
        std::string key = keyOf(*rows[end]);
        if (std::find(keys.begin(), keys.end(), key) != keys.end()) break;
        keys.push_back(std::move(key));
    }
    return end;
}

bool BlockWrites::tryMerge(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                           db::Transaction& transaction) {
    try {
        merge_->clear();
        for (std::size_t row = begin; row < end; ++row)
            for (const ColumnValue& value : *rows[row]) {
                const auto input = static_cast<std::size_t>(layout_.inputOfMapping[value.mapping - profile_.columns.data()]);
                const auto position = static_cast<unsigned>((row - begin) * layout_.inputs.size() + input);
                switch (layout_.inputs[input].kind) {
                    case WriteKind::Text:
                    case WriteKind::Blob:
                        merge_->setText(position, value.bytes);
                        break;
                    case WriteKind::Double:
                        merge_->setDouble(position, value.number);
                        break;
                    case WriteKind::Date:
                        merge_->setDate(position, value.date);
                        break;
                    case WriteKind::Integer:
                        merge_->setInteger(position, value.integer);
                        break;
                }
            }
        merge_->setInteger(static_cast<unsigned>(static_cast<std::size_t>(mergeCapacity_) * layout_.inputs.size()),
                           static_cast<std::int32_t>(end - begin));
        ++*executions_;
        merge_->execute(transaction);
        return true;
    } catch (const db::Error& failure) {
        if (failure.connectionLost()) throw;
        return false;
    }
}

void BlockWrites::writeBlocks(const std::vector<const RowValues*>& rows, std::size_t begin, std::size_t end,
                              db::Transaction& transaction, const Outcome& outcome) {
    if (!block_ && capacity_ > 1) prepareBlocks();
    const auto most = static_cast<std::size_t>(capacity_);
    while (begin < end) {
        if (most <= 1 || !fits(*rows[begin])) {
            outcome(writeAlone(*rows[begin], transaction));
            ++begin;
            continue;
        }
        std::size_t blockEnd = begin + 1;
        while (blockEnd < end && blockEnd - begin < most && fits(*rows[blockEnd])) ++blockEnd;
        writeRun(rows, begin, blockEnd, transaction, outcome);
        begin = blockEnd;
    }
}

void BlockWrites::write(const std::vector<const RowValues*>& rows, db::Transaction& transaction,
                        const Outcome& outcome) {
    capacity();
    for (std::size_t begin = 0; begin < rows.size();) {
        std::size_t end = mergeEnd(rows, begin);
        if (end > begin) {
            if (tryMerge(rows, begin, end, transaction)) {
                mergeMisses_ = 0;
                for (std::size_t row = begin; row < end; ++row) outcome(std::nullopt);
            } else {
                bool rowFailed = false;
                writeBlocks(rows, begin, end, transaction, [&](const std::optional<std::string>& failure) {
                    rowFailed = rowFailed || failure;
                    outcome(failure);
                });
                mergeMisses_ = rowFailed ? 0 : mergeMisses_ + 1;
                if (mergeMisses_ >= kMergeMissesTolerated) merge_.reset();
            }
        } else {
            // Rows a MERGE cannot carry, up to the next one it can.
            end = begin + 1;
            while (merge_ && end < rows.size() && !fitsMerge(*rows[end])) ++end;
            if (!merge_) end = rows.size();
            writeBlocks(rows, begin, end, transaction, outcome);
        }
        begin = end;
    }
}

}  // namespace transfer
