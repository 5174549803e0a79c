#include "reconcile/ColumnRule.h"

#include <cctype>
#include <cmath>

#include "db/Error.h"
#include "db/Query.h"
#include "transfer/DisplayText.h"

namespace reconcile {

using transfer::StoredAs;

namespace {

// The integer behind a value read from a column of scaled integers: the
// client hands it over divided by its power of ten, correctly rounded, so the
// nearest integer is the stored one.
std::int64_t storedUnits(double value, int decimals) {
    const double scaled = value * std::pow(10.0, decimals);
    if (!(scaled > -9.2e18 && scaled < 9.2e18)) throw db::Error("numeric value is out of range");
    return std::llround(scaled);
}

}  // namespace

std::string upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return result;
}

std::string_view withoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

Rule makeRule(const transfer::ColumnMapping& mapping, const db::ColumnType& central) {
    return Rule{transfer::writtenColumn(mapping, central), upper(mapping.parameter), mapping.field};
}

void readBranchValue(const Rule& rule, const db::Query& query, int index, Value& value) {
    value.problem.clear();
    try {
        transfer::readWrittenValue(rule, query, index, value);
    } catch (const db::Error& failure) {
        value.problem = failure.what();
    }
}

void readCentralValue(const Rule& rule, const db::Query& query, int index, Value& value) {
    value.problem.clear();
    value.null = query.isNull(index);
    try {
        switch (rule.stored) {
            case StoredAs::Text:
                query.readText(index, value.text);
                if (rule.padded) value.text.resize(withoutTrailingBlanks(value.text).size());
                break;
            case StoredAs::Bytes:
                query.readBytes(index, value.text);
                break;
            case StoredAs::Number: {
                const double number = query.asDouble(index);
                if (rule.inUnits)
                    value.units = storedUnits(number, rule.decimals);
                else
                    value.number = rule.single ? static_cast<float>(number) : number;
                break;
            }
            case StoredAs::Date:
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
    switch (rule.stored) {
        case StoredAs::Text:
        case StoredAs::Bytes:
            return branch.text == central.text;
        case StoredAs::Number:
            return rule.inUnits ? branch.units == central.units : branch.number == central.number;
        case StoredAs::Date:
            return branch.date == central.date;
    }
    return false;
}

std::string shownValue(const Rule& rule, const Value& value) {
    switch (rule.stored) {
        case StoredAs::Text:
        case StoredAs::Bytes:
            return transfer::displayText(withoutTrailingBlanks(value.text));
        case StoredAs::Number:
            return rule.inUnits ? db::integerText(value.units, -rule.decimals) : db::doubleText(value.number);
        case StoredAs::Date: {
            const std::string text = value.date.toText();
            return value.date == value.date.dateOnly() ? text.substr(0, 10) : text;
        }
    }
    return {};
}

}  // namespace reconcile
