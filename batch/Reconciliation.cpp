#include "batch/Reconciliation.h"

#include <algorithm>
#include <bit>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string_view>

#include "db/Connection.h"
#include "db/DateTime.h"
#include "db/Error.h"
#include "db/Query.h"
#include "db/ScaledNumber.h"
#include "db/SystemTables.h"
#include "transfer/DisplayText.h"
#include "transfer/Tables.h"

namespace batch {

using db::ColumnType;
using db::ColumnTypes;
using db::readColumnTypes;
using db::readPrimaryKey;
using transfer::ReadKind;
using transfer::WriteKind;
using namespace db::field_types;

namespace {

// Both selects of the copy keep to one company by this column.
constexpr std::string_view kCompanyColumn = "CODEMPRESA";

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string_view withoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// A double as a column of scaled integers keeps it, by the server's own
// conversion.
std::int64_t toUnits(double value, int decimals) { return db::scaledUnitsOfDouble(value, decimals); }

// The integer behind a value read from such a column: the client hands it
// over divided by its power of ten, correctly rounded, so the nearest
// integer is the stored one.
std::int64_t storedUnits(double value, int decimals) {
    const double scaled = value * std::pow(10.0, decimals);
    if (!(scaled > -9.2e18 && scaled < 9.2e18)) throw db::Error("numeric value is out of range");
    return std::llround(scaled);
}

// ---- one mapped column, compared as the central database holds it ---------

// What a value is compared as, decided by the central column's type: the
// copy hands the server a value of its write kind and the server converts it
// into the column, so equality is judged after that conversion.
enum class Domain { Text, Bytes, Number, Date };

struct Rule {
    std::string column;  // central column
    std::string field;   // branch field, as the mapping names it
    ReadKind read;
    WriteKind write;
    Domain domain = Domain::Text;
    bool padded = false;    // central CHAR: trailing blanks carry no meaning there
    bool inUnits = false;   // central keeps scaled integers: compared in units of its last decimal
    bool single = false;    // central FLOAT
    int decimals = 0;       // of the central column
    bool dateOnly = false;  // central DATE without a time of day
};

Rule makeRule(const transfer::ColumnMapping& mapping, const ColumnType& central) {
    Rule rule{upper(mapping.parameter), mapping.field, mapping.read, mapping.write};
    rule.decimals = central.scale < 0 ? -central.scale : 0;
    switch (central.type) {
        case kChar:
        case kVarchar:
            rule.padded = central.type == kChar;
            // A number or date sent to a text column is compared by what the
            // central text reads back as.
            if (mapping.write == WriteKind::Double || mapping.write == WriteKind::Integer)
                rule.domain = Domain::Number;
            else if (mapping.write == WriteKind::Date)
                rule.domain = Domain::Date;
            break;
        case kBlob:
            rule.domain = Domain::Bytes;
            break;
        case kSmallint:
        case kInteger:
        case kBigint:
            rule.domain = Domain::Number;
            rule.inUnits = true;
            break;
        case kFloat:
        case kDouble:
            // Dialect 1 keeps NUMERIC(15,2) as a double with a scale: the
            // value is stored as sent, unrounded.
            rule.domain = Domain::Number;
            rule.single = central.type == kFloat;
            break;
        case kDateOnly:
            rule.domain = Domain::Date;
            rule.dateOnly = true;
            break;
        case kTimestamp:
            rule.domain = Domain::Date;
            break;
        default:
            break;  // times, booleans: the text both sides read as
    }
    return rule;
}

struct Value {
    std::string text;  // Text, Bytes
    double number = 0;
    std::int64_t units = 0;
    db::DateTime date;
    bool null = false;    // a central NULL: never what a run writes
    std::string problem;  // not empty: the copy could not send this value
};

void setNumber(const Rule& rule, double number, Value& value) {
    if (rule.inUnits)
        value.units = toUnits(number, rule.decimals);
    else
        value.number = rule.single ? static_cast<float>(number) : number;
}

// The value the copy sends for this branch field, as the central column would
// keep it. The copy reads by its write kind (text and blobs by the read kind),
// and the NULL rules of those reads apply: empty text, 0, 30 December 1899,
// no bytes. A text sent to a number or date column is converted by the
// server; reading the field in that kind converts the same text.
void readBranchValue(const Rule& rule, const db::Query& query, int index, Value& value) {
    value.problem.clear();
    try {
        switch (rule.domain) {
            case Domain::Text:
            case Domain::Bytes:
                value.text = rule.read == ReadKind::Bytes ? query.asBytes(index) : query.asText(index);
                if (rule.padded) value.text.resize(withoutTrailingBlanks(value.text).size());
                break;
            case Domain::Number:
                setNumber(rule, rule.write == WriteKind::Integer ? query.asInteger(index) : query.asDouble(index),
                          value);
                break;
            case Domain::Date:
                value.date = query.asDateTime(index);
                if (rule.write == WriteKind::Date || rule.dateOnly) value.date = value.date.dateOnly();
                break;
        }
    } catch (const db::Error& failure) {
        value.problem = failure.what();
    }
}

// The value the central database holds. A NULL there differs from every
// branch value: a run writes '', 0, 30 December 1899 or no bytes for a branch
// NULL, never a NULL, and SUM and WHERE treat that row otherwise. It reads as
// 0 (adding nothing to the totals) and as an empty key part.
void readCentralValue(const Rule& rule, const db::Query& query, int index, Value& value) {
    value.problem.clear();
    value.null = query.isNull(index);
    try {
        switch (rule.domain) {
            case Domain::Text:
                value.text = query.asText(index);
                if (rule.padded) value.text.resize(withoutTrailingBlanks(value.text).size());
                break;
            case Domain::Bytes:
                value.text = query.asBytes(index);
                break;
            case Domain::Number: {
                const double number = query.asDouble(index);
                if (rule.inUnits)
                    value.units = storedUnits(number, rule.decimals);
                else
                    value.number = rule.single ? static_cast<float>(number) : number;
                break;
            }
            case Domain::Date:
                value.date = query.asDateTime(index);
                if (rule.dateOnly) value.date = value.date.dateOnly();
                break;
        }
    } catch (const db::Error& failure) {
        value.problem = failure.what();
    }
}

bool sameValue(const Rule& rule, const Value& branch, const Value& central) {
    if (!branch.problem.empty() || !central.problem.empty() || central.null) return false;
    switch (rule.domain) {
        case Domain::Text:
        case Domain::Bytes:
            return branch.text == central.text;
        case Domain::Number:
            return rule.inUnits ? branch.units == central.units : branch.number == central.number;
        case Domain::Date:
            return branch.date == central.date;
    }
    return false;
}

// ---- keys -------------------------------------------------------------------

// A key is one byte string per key column: text without its trailing blanks,
// numbers and dates in an encoding whose byte order is their numeric order.
using Key = std::vector<std::string>;

// Key parts compare as the engine compares text: byte by byte, unsigned, the
// shorter as if padded with blanks. So "D2\t" comes before "D2" (a tab is
// below the blank that pads "D2"), and "D2 " is "D2". The encoded numbers
// and dates are all of one length, and compare by their bytes.
int comparePart(std::string_view left, std::string_view right) {
    const std::size_t common = std::min(left.size(), right.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto l = static_cast<unsigned char>(left[i]), r = static_cast<unsigned char>(right[i]);
        if (l != r) return l < r ? -1 : 1;
    }
    const int sign = left.size() > right.size() ? 1 : -1;
    for (const char c : (left.size() > right.size() ? left : right).substr(common)) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte != ' ') return byte < ' ' ? -sign : sign;
    }
    return 0;
}

bool keyLess(const Key& left, const Key& right) {
    for (std::size_t k = 0; k < left.size() && k < right.size(); ++k)
        if (const int order = comparePart(left[k], right[k]); order != 0) return order < 0;
    return left.size() < right.size();
}

void putOrdered(std::uint64_t bits, std::string& out) {
    out.resize(8);
    for (int i = 7; i >= 0; --i, bits >>= 8) out[static_cast<std::size_t>(i)] = static_cast<char>(bits & 0xff);
}

void encodeKeyPart(const Rule& rule, const Value& value, std::string& out) {
    switch (rule.domain) {
        case Domain::Text:
        case Domain::Bytes:
            out.assign(withoutTrailingBlanks(value.text));
            return;
        case Domain::Number:
            if (rule.inUnits) {
                putOrdered(static_cast<std::uint64_t>(value.units) ^ (1ull << 63), out);
            } else {
                const double number = value.number == 0 ? 0.0 : value.number;  // -0 is 0
                const auto bits = std::bit_cast<std::uint64_t>(number);
                putOrdered(bits >> 63 ? ~bits : bits | (1ull << 63), out);
            }
            return;
        case Domain::Date: {
            const std::int64_t stamp =
                static_cast<std::int64_t>(value.date.firebirdDate()) * 864000000 + value.date.firebirdTime();
            putOrdered(static_cast<std::uint64_t>(stamp) ^ (1ull << 63), out);
            return;
        }
    }
}

std::string shownValue(const Rule& rule, const Value& value) {
    switch (rule.domain) {
        case Domain::Text:
        case Domain::Bytes:
            return transfer::displayText(withoutTrailingBlanks(value.text));
        case Domain::Number:
            return rule.inUnits ? db::integerText(value.units, -rule.decimals) : db::doubleText(value.number);
        case Domain::Date: {
            const std::string text = value.date.toText();
            return value.date == value.date.dateOnly() ? text.substr(0, 10) : text;
        }
    }
    return {};
}

// ---- the central side of a table ------------------------------------------

struct CentralTable {
    const CheckedTable* checked = nullptr;
    std::string name;
    std::vector<Rule> rules;  // in mapping order; both selects list their columns in this order
    std::vector<int> keyRules;
    std::vector<std::string> keyColumns;
    std::vector<int> moneyRules;
    int companyRule = -1;
    ColumnTypes centralTypes;
};

int ruleOf(const std::vector<Rule>& rules, std::string_view column) {
    for (std::size_t i = 0; i < rules.size(); ++i)
        if (rules[i].column == column) return static_cast<int>(i);
    return -1;
}

CentralTable describeCentral(db::Connection& central, const CheckedTable& checked) {
    CentralTable table;
    table.checked = &checked;
    table.name = checked.profile->tableName;
    const std::string& name = table.name;
    table.centralTypes = readColumnTypes(central, name);
    if (table.centralTypes.empty()) throw CheckError(name + ": the central database has no table " + name);
    table.keyColumns = readPrimaryKey(central, name);
    if (table.keyColumns.empty())
        throw CheckError(name +
                         ": the central table has no primary key, so its rows cannot be matched with the "
                         "branch rows");
    for (const transfer::ColumnMapping& mapping : checked.profile->columns) {
        const auto found = table.centralTypes.find(upper(mapping.parameter));
        if (found == table.centralTypes.end())
            throw CheckError(name + ": the central table has no column " + upper(mapping.parameter));
        table.rules.push_back(makeRule(mapping, found->second));
    }
    for (const std::string& column : table.keyColumns) {
        const int rule = ruleOf(table.rules, column);
        if (rule < 0)
            throw CheckError(name + ": the primary key column " + column +
                             " of the central table is not one the copy writes");
        table.keyRules.push_back(rule);
    }
    table.companyRule = ruleOf(table.rules, kCompanyColumn);
    if (table.companyRule < 0) throw CheckError(name + ": the copy writes no column " + std::string(kCompanyColumn));
    for (const std::string& field : checked.moneyFields) {
        const int rule = ruleOf(table.rules, upper(field));
        if (rule < 0) throw CheckError(name + ": no money column " + field);
        table.moneyRules.push_back(rule);
    }
    return table;
}

// How a key column is ordered in a select. Both sides are read in key order
// and merged, so both must come in the one order `Key` compares by: bytes,
// the shorter text padded with blanks. The engine sorts text that way under a
// character set's default collation, but an index it walks for ORDER BY
// holds text without its trailing blanks and delivers "D2" before "D2\t";
// whether a side walks an index or sorts depends on its indexes. So every
// text key is ordered as its bytes under the character set NONE, which is a
// sort with blank padding on every side and under any collation (WIN_PTBR,
// say, which folds case and accents). Every stream still checks that its keys
// ascend, and stops the check rather than report false differences.
std::string orderTerm(const std::string& column, const ColumnTypes& types) {
    const auto found = types.find(upper(column));
    if (found == types.end()) return column;
    const ColumnType& type = found->second;
    if (type.type != kChar && type.type != kVarchar) return column;
    return "CAST(" + column + " AS VARCHAR(" + std::to_string(std::max(type.byteLength, 1)) + ") CHARACTER SET NONE)";
}

// The columns in rule order, one company's rows, in key order. The copy's
// movement select replaces NULL by 0 in its four integer columns; the integer
// read gives 0 for NULL all the same, so the plain columns read alike.
std::string selectSql(const CentralTable& table, bool branchSide, const ColumnTypes& types) {
    auto name = [&](const Rule& rule) { return branchSide ? rule.field : rule.column; };
    std::string sql = "SELECT ";
    for (std::size_t i = 0; i < table.rules.size(); ++i) sql += (i ? ", " : "") + name(table.rules[i]);
    sql += " FROM " + table.name + " WHERE " + name(table.rules[static_cast<std::size_t>(table.companyRule)]) +
           " = :CODEMPRESA ORDER BY ";
    for (std::size_t i = 0; i < table.keyRules.size(); ++i)
        sql += (i ? ", " : "") + orderTerm(name(table.rules[static_cast<std::size_t>(table.keyRules[i])]), types);
    return sql;
}

// ---- one side's rows, streamed ----------------------------------------------

class RowStream {
public:
    RowStream(db::Connection& connection, std::string where, const CentralTable& table, bool branchSide,
              const std::string& empresa)
        : where_(std::move(where)),
          table_(table),
          branchSide_(branchSide),
          query_(connection),
          values_(table.rules.size()),
          key_(table.keyRules.size()) {
        guarded([&] {
            const ColumnTypes types = branchSide ? readColumnTypes(connection, table.name) : table.centralTypes;
            query_.addSql(selectSql(table, branchSide, types));
            query_.setText(query_.paramIndex("CODEMPRESA"), empresa);
            query_.open();
            load();
        });
    }

    bool atEnd() const { return query_.eof(); }
    const Key& key() const { return key_; }
    const std::vector<Value>& values() const { return values_; }
    // Hands the current row's values over (for a row kept past advance()).
    void takeValues(std::vector<Value>& into) { std::swap(into, values_); }

    void advance() {
        guarded([&] {
            std::swap(previous_, key_);
            hasPrevious_ = true;
            query_.next();
            load();
        });
    }

private:
    template <typename Work>
    void guarded(Work&& work) {
        try {
            work();
        } catch (const db::Error& failure) {
            throw CheckError(table_.name + ": " + where_ + ": " + failure.what());
        }
    }

    void load() {
        if (query_.eof()) return;
        values_.resize(table_.rules.size());
        key_.resize(table_.keyRules.size());
        for (std::size_t i = 0; i < table_.rules.size(); ++i) {
            const int index = static_cast<int>(i);
            if (branchSide_)
                readBranchValue(table_.rules[i], query_, index, values_[i]);
            else
                readCentralValue(table_.rules[i], query_, index, values_[i]);
        }
        for (std::size_t k = 0; k < table_.keyRules.size(); ++k) {
            const Rule& rule = table_.rules[static_cast<std::size_t>(table_.keyRules[k])];
            const Value& value = values_[static_cast<std::size_t>(table_.keyRules[k])];
            if (!value.problem.empty())
                throw CheckError(table_.name + ": " + where_ + ": the key column " + rule.column +
                                 " of a row cannot be read: " + value.problem);
            encodeKeyPart(rule, value, key_[k]);
        }
        if (hasPrevious_ && keyLess(key_, previous_))
            throw CheckError(table_.name + ": " + where_ + ": the rows do not come in the order of the key (" +
                             shownKey() + " came after a greater key)");
    }

    std::string shownKey() const {
        std::string text;
        for (std::size_t k = 0; k < table_.keyRules.size(); ++k) {
            const auto rule = static_cast<std::size_t>(table_.keyRules[k]);
            text += (k ? " " : "") + table_.rules[rule].column + "=" + shownValue(table_.rules[rule], values_[rule]);
        }
        return text;
    }

    std::string where_;
    const CentralTable& table_;
    bool branchSide_;
    db::Query query_;
    std::vector<Value> values_;
    Key key_;
    Key previous_;
    bool hasPrevious_ = false;
};

// ---- the merge ----------------------------------------------------------------

struct Source {
    std::string banco;
    db::Connection* connection;
};

std::vector<Amount> emptyTotals(const CentralTable& table) {
    std::vector<Amount> totals;
    for (int index : table.moneyRules) {
        const Rule& rule = table.rules[static_cast<std::size_t>(index)];
        totals.emplace_back(rule.decimals, rule.inUnits);
    }
    return totals;
}

void addTotals(const CentralTable& table, const std::vector<Value>& values, std::vector<Amount>& totals) {
    for (std::size_t i = 0; i < table.moneyRules.size(); ++i) {
        const auto index = static_cast<std::size_t>(table.moneyRules[i]);
        const Value& value = values[index];
        if (!value.problem.empty()) continue;
        totals[i].add(value.units, value.number);
    }
}

std::vector<std::string> shownKey(const CentralTable& table, const std::vector<Value>& values) {
    std::vector<std::string> key;
    for (int index : table.keyRules)
        key.push_back(
            shownValue(table.rules[static_cast<std::size_t>(index)], values[static_cast<std::size_t>(index)]));
    return key;
}

void compareTable(const CentralTable& table, db::Connection& central, const std::vector<Source>& sources,
                  TableCheck& check, CheckSink& sink) {
    std::vector<std::unique_ptr<RowStream>> branches;
    for (const Source& source : sources)
        branches.push_back(std::make_unique<RowStream>(*source.connection, source.banco, table, true, check.empresa));
    RowStream centralRows(central, "central database", table, false, check.empresa);

    std::vector<Amount> unionTotals = emptyTotals(table);
    std::vector<Amount> centralTotals = emptyTotals(table);
    std::vector<Value> kept;  // the branch row the central should hold
    std::vector<int> holders;
    Key current;
    for (long long step = 1;; ++step) {
        if (step % 1024 == 0 && sink.stopRequested()) throw CheckStopped();
        const Key* smallest = centralRows.atEnd() ? nullptr : &centralRows.key();
        for (const auto& branch : branches)
            if (!branch->atEnd() && (!smallest || keyLess(branch->key(), *smallest))) smallest = &branch->key();
        if (!smallest) break;
        current = *smallest;

        // Every branch row of this key, in list order: in a run each
        // overwrites the one before, so the last is the one that stays.
        holders.clear();
        for (std::size_t i = 0; i < branches.size(); ++i) {
            RowStream& branch = *branches[i];
            while (!branch.atEnd() && branch.key() == current) {
                holders.push_back(static_cast<int>(i));
                ++check.branches[i].rows;
                addTotals(table, branch.values(), check.branches[i].totals);
                branch.takeValues(kept);
                branch.advance();
            }
        }
        const bool inCentral = !centralRows.atEnd() && centralRows.key() == current;

        // The key is made shown text only for a row that is reported.
        Difference difference;
        const auto tell = [&](DifferenceKind kind, const std::vector<Value>& row) {
            difference.kind = kind;
            if (difference.key.empty()) difference.key = shownKey(table, row);
            sink.difference(check, difference);
        };
        if (holders.empty()) {
            ++check.onlyInCentral;
            tell(DifferenceKind::OnlyInCentral, centralRows.values());
        } else {
            addTotals(table, kept, unionTotals);
            if (holders.size() > 1) {
                ++check.collisions;
                difference.branches = holders;
                tell(DifferenceKind::Collision, kept);
            }
            difference.branches = {holders.back()};
            if (!inCentral) {
                ++check.missing;
                tell(DifferenceKind::Missing, kept);
            } else {
                for (std::size_t i = 0; i < table.rules.size(); ++i)
                    if (!sameValue(table.rules[i], kept[i], centralRows.values()[i]))
                        difference.columns.push_back(table.rules[i].column);
                if (difference.columns.empty()) {
                    ++check.equal;
                } else {
                    ++check.different;
                    tell(DifferenceKind::Different, kept);
                }
            }
        }
        if (inCentral) {
            ++check.centralRows;
            addTotals(table, centralRows.values(), centralTotals);
            centralRows.advance();
        }
    }
    for (std::size_t i = 0; i < check.totals.size(); ++i) {
        check.totals[i].branch = unionTotals[i];
        check.totals[i].central = centralTotals[i];
    }
}

}  // namespace

// ---- Amount -------------------------------------------------------------------

void Amount::add(std::int64_t units, double value) {
    if (inUnits_)
        units_ += units;
    else
        value_ += value;
}

std::string Amount::text() const {
    if (inUnits_) return db::integerText(units_, -decimals_);
    // Rounded half away from zero to the column's decimals, as it is shown.
    const long double scaled = value_ * std::pow(10.0L, decimals_);
    if (decimals_ <= 0 || !(std::fabs(scaled) < 9.2e18L)) return db::doubleText(static_cast<double>(value_));
    return db::integerText(std::llroundl(scaled), -decimals_);
}

Amount Amount::minus(const Amount& other) const {
    Amount result(decimals_, inUnits_);
    result.units_ = units_ - other.units_;
    result.value_ = value_ - other.value_;
    return result;
}

const char* kindName(DifferenceKind kind) {
    switch (kind) {
        case DifferenceKind::Missing:
            return "missing";
        case DifferenceKind::Different:
            return "different";
        case DifferenceKind::OnlyInCentral:
            return "only-in-central";
        case DifferenceKind::Collision:
            return "collision";
    }
    return "";
}

const std::vector<CheckedTable>& checkedTables() {
    static const std::vector<CheckedTable> tables{
        {&transfer::docuRecProfile(), {"ValorDocto", "ValorPago"}},
        {&transfer::moviRecProfile(), {"ValorMov"}},
    };
    return tables;
}

CheckSummary checkEntries(db::Connection& central, const std::vector<CheckEntry>& entries,
                          const db::ConnectionParameters& branchSettings, CheckSink& sink) {
    // Every central table is described before anything is compared, so a
    // table without a primary key stops the check before its first line.
    std::vector<CentralTable> tables;
    try {
        for (const CheckedTable& checked : checkedTables()) tables.push_back(describeCentral(central, checked));
    } catch (const db::Error& failure) {
        throw CheckError(std::string("central database: ") + failure.what());
    }

    std::vector<std::string> codes;
    for (const CheckEntry& entry : entries)
        if (std::find(codes.begin(), codes.end(), entry.empresa) == codes.end()) codes.push_back(entry.empresa);

    CheckSummary summary;
    for (const std::string& code : codes) {
        // The same file listed twice for one code is copied twice to the
        // same effect as once; it is compared once.
        std::vector<std::string> bancos;
        for (const CheckEntry& entry : entries)
            if (entry.empresa == code && std::find(bancos.begin(), bancos.end(), entry.banco) == bancos.end())
                bancos.push_back(entry.banco);

        std::vector<std::unique_ptr<db::Connection>> connections;
        std::vector<Source> sources;
        std::string unopened;
        for (const std::string& banco : bancos) {
            auto connection = std::make_unique<db::Connection>();
            connection->parameters() = branchSettings;
            connection->parameters().setValue("Database", banco);
            connection->setReadOnly(true);
            try {
                connection->open();
            } catch (const std::exception& failure) {
                unopened = banco + ": " + failure.what();
                sink.branchNotOpened(banco, failure.what());
                break;
            }
            sources.push_back({banco, connection.get()});
            connections.push_back(std::move(connection));
        }

        for (const CentralTable& table : tables) {
            TableCheck check;
            check.table = table.name;
            check.empresa = code;
            check.keyColumns = table.keyColumns;
            for (const std::string& banco : bancos) check.branches.push_back({banco, 0, emptyTotals(table)});
            for (int index : table.moneyRules)
                check.totals.push_back({table.rules[static_cast<std::size_t>(index)].column, Amount{}, Amount{}});
            ++summary.tables;
            if (!unopened.empty()) {
                check.notChecked = "cannot open " + unopened;
                ++summary.notChecked;
            } else {
                compareTable(table, central, sources, check, sink);
                if (check.inSync()) ++summary.tablesInSync;
            }
            sink.tableDone(check);
        }
    }
    return summary;
}

}  // namespace batch
