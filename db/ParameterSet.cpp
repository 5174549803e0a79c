#include "db/ParameterSet.h"

#include <algorithm>
#include <cstring>

#include "db/ConnectionParameters.h"
#include "db/Error.h"
#include "db/FirebirdClient.h"

namespace db {

using namespace Firebird;

namespace {

constexpr unsigned kMaxVaryingLength = 32765;
// What the blobs carried as text may take of an input message, which must
// stay under 64 KB; the rest of the message is estimated from its slots.
constexpr unsigned kMessageBudget = 64 * 1024 - 1024;
// Below this a blob column's text share is not worth a layout of its own.
constexpr unsigned kSmallestBlobText = 256;

bool isTextType(unsigned type) { return type == SQL_TEXT || type == SQL_VARYING; }

// A VARCHAR in a message: its length, then its bytes.
void putVarying(unsigned char* field, std::string_view bytes) {
    const auto length = static_cast<unsigned short>(bytes.size());
    std::memcpy(field, &length, sizeof length);
    std::memcpy(field + sizeof length, bytes.data(), bytes.size());
}

}  // namespace

ParameterSet::~ParameterSet() { releaseMetadata(); }

void ParameterSet::releaseMetadata() {
    if (metadata_) {
        metadata_->release();
        metadata_ = nullptr;
    }
}

void ParameterSet::reset(NamedParameters parsed) {
    releaseMetadata();
    buffer_.clear();
    names_.clear();
    positions_.clear();
    values_.clear();
    groupOfPosition_.assign(parsed.names.size(), -1);
    slots_.assign(parsed.names.size(), Slot{});
    for (unsigned position = 0; position < parsed.names.size(); ++position) {
        const std::string& name = parsed.names[position];
        auto found = std::find_if(names_.begin(), names_.end(),
                                  [&](const std::string& known) { return equalsIgnoringCase(known, name); });
        int group;
        if (found == names_.end()) {
            group = static_cast<int>(names_.size());
            names_.push_back(name);
            positions_.emplace_back();
            values_.emplace_back();
        } else {
            group = static_cast<int>(found - names_.begin());
        }
        positions_[static_cast<std::size_t>(group)].push_back(position);
        groupOfPosition_[position] = group;
    }
}

int ParameterSet::indexOf(std::string_view name) const {
    auto found = std::find_if(names_.begin(), names_.end(),
                              [&](const std::string& known) { return equalsIgnoringCase(known, name); });
    if (found == names_.end()) throw Error("Parameter '" + std::string(name) + "' not found");
    return static_cast<int>(found - names_.begin());
}

ParameterSet::Value& ParameterSet::valueAt(int index) {
    if (index < 0 || static_cast<std::size_t>(index) >= values_.size()) throw Error("Parameter index out of range");
    return values_[static_cast<std::size_t>(index)];
}

void ParameterSet::setText(int index, std::string_view bytes) {
    Value& value = valueAt(index);
    if (bytes.size() > kMaxVaryingLength)
        throw Error("Text parameter of " + std::to_string(bytes.size()) + " bytes is longer than " +
                    std::to_string(kMaxVaryingLength) + " bytes");
    value.kind = Kind::Text;
    value.bytes.assign(bytes);
}

void ParameterSet::setDouble(int index, double number) {
    Value& value = valueAt(index);
    value.kind = Kind::Double;
    value.number = number;
}

void ParameterSet::setDate(int index, const DateTime& date) {
    Value& value = valueAt(index);
    value.kind = Kind::Date;
    value.date = date.dateOnly();
}

void ParameterSet::setInteger(int index, std::int32_t integer) {
    Value& value = valueAt(index);
    value.kind = Kind::Integer;
    value.integer = integer;
}

void ParameterSet::setBlob(int index, std::string_view bytes) {
    Value& value = valueAt(index);
    value.kind = Kind::Blob;
    value.bytes.assign(bytes);
}

bool ParameterSet::layoutFits() const {
    if (!metadata_) return false;
    for (std::size_t position = 0; position < slots_.size(); ++position) {
        const Value& value = values_[static_cast<std::size_t>(groupOfPosition_[position])];
        const Slot& slot = slots_[position];
        if (value.kind != slot.kind) return false;
        if (value.kind == Kind::Text && !textFits(slot, value.bytes.size())) return false;
        if (value.kind == Kind::Blob && slot.blobAsText != blobFits(slot, value.bytes.size())) return false;
    }
    return true;
}

// A slot whose blob column has a share of the message takes a value that
// fits it as text; a slot without one (capacity 0) never does.
bool ParameterSet::blobFits(const Slot& slot, std::size_t length) const {
    return slot.capacity > 0 && length <= slot.capacity;
}

// Shares the message between the blob columns' texts: what the other slots
// leave of the budget, in equal parts, each at most a VARCHAR's length.
void ParameterSet::assignBlobBudgets(IMessageMetadata* described) {
    fb::ThrowingStatus status;
    unsigned others = 0;
    unsigned blobColumns = 0;
    for (unsigned position = 0; position < slots_.size(); ++position) {
        const Value& value = values_[static_cast<std::size_t>(groupOfPosition_[position])];
        const Slot& slot = slots_[position];
        // Null flag, alignment and the widest fixed value: 16 bytes a slot.
        others += 16;
        if (value.kind == Kind::Text) others += slot.capacity + 2;
        if (value.kind == Kind::Null) others += described->getLength(&status, position) + 2;
        if (value.kind == Kind::Blob && (described->getType(&status, position) & ~1u) == SQL_BLOB) ++blobColumns;
    }
    const unsigned share = blobColumns == 0 || others >= kMessageBudget
                               ? 0
                               : std::min(kMaxVaryingLength, (kMessageBudget - others) / blobColumns);
    for (unsigned position = 0; position < slots_.size(); ++position) {
        Slot& slot = slots_[position];
        if (slot.kind != Kind::Blob) continue;
        const bool blobColumn = (described->getType(&status, position) & ~1u) == SQL_BLOB;
        slot.capacity = blobColumn && share >= kSmallestBlobText ? share : 0;
    }
}

// A text for a text column is declared with the column's length while it
// fits the column, so rows of varying length share one layout. A longer one
// is declared with its exact length: the server names the declared length as
// the "actual" one when it refuses the text, and that must be the text's.
bool ParameterSet::textFits(const Slot& slot, std::size_t length) {
    if (slot.columnTextLength == 0) return length <= slot.capacity;
    if (slot.capacity == slot.columnTextLength) return length <= slot.capacity;
    return length == slot.capacity;
}

unsigned ParameterSet::textCapacity(const Slot& slot, std::size_t length) {
    if (slot.columnTextLength != 0)
        return length <= slot.columnTextLength ? slot.columnTextLength : static_cast<unsigned>(length);
    // Text for a number or date column: grow in steps, a conversion error
    // names the value, not its declared length.
    unsigned capacity = std::max(slot.capacity, 64u);
    while (capacity < length && capacity < kMaxVaryingLength) capacity *= 2;
    return std::min(capacity, kMaxVaryingLength);
}

void ParameterSet::rebuildLayout(IMessageMetadata* described) {
    releaseMetadata();
    fb::ThrowingStatus status;
    for (unsigned position = 0; position < slots_.size(); ++position) {
        const Value& value = values_[static_cast<std::size_t>(groupOfPosition_[position])];
        Slot& slot = slots_[position];
        slot.kind = value.kind;
        const unsigned describedType = described->getType(&status, position) & ~1u;
        slot.columnTextLength = isTextType(describedType) ? described->getLength(&status, position) : 0;
        if (value.kind == Kind::Text) slot.capacity = textCapacity(slot, value.bytes.size());
    }
    assignBlobBudgets(described);
    IMetadataBuilder* builder = described->getBuilder(&status);
    try {
        for (unsigned position = 0; position < slots_.size(); ++position) {
            const Value& value = values_[static_cast<std::size_t>(groupOfPosition_[position])];
            Slot& slot = slots_[position];
            const unsigned describedType = described->getType(&status, position) & ~1u;
            switch (value.kind) {
                case Kind::Null:
                    // Keep the described type; only the null flag is sent.
                    break;
                case Kind::Text:
                    builder->setType(&status, position, SQL_VARYING + 1);
                    builder->setLength(&status, position, slot.capacity);
                    builder->setCharSet(&status, position,
                                        isTextType(describedType) ? described->getCharSet(&status, position) : 0);
                    builder->setScale(&status, position, 0);
                    break;
                case Kind::Double:
                    builder->setType(&status, position, SQL_DOUBLE + 1);
                    builder->setLength(&status, position, sizeof(double));
                    builder->setScale(&status, position, 0);
                    break;
                case Kind::Date:
                    // A timestamp at midnight: dialect 1 has no date-only type.
                    builder->setType(&status, position, SQL_TIMESTAMP + 1);
                    builder->setLength(&status, position, sizeof(ISC_TIMESTAMP));
                    builder->setScale(&status, position, 0);
                    break;
                case Kind::Integer:
                    builder->setType(&status, position, SQL_LONG + 1);
                    builder->setLength(&status, position, sizeof(ISC_LONG));
                    builder->setScale(&status, position, 0);
                    break;
                case Kind::Blob:
                    slot.blobAsText = blobFits(slot, value.bytes.size());
                    if (slot.blobAsText) {
                        // The blob's own character set: the server stores the
                        // bytes without converting them.
                        builder->setType(&status, position, SQL_VARYING + 1);
                        builder->setLength(&status, position, slot.capacity);
                        builder->setCharSet(&status, position, described->getCharSet(&status, position));
                        builder->setScale(&status, position, 0);
                        break;
                    }
                    builder->setType(&status, position, SQL_BLOB + 1);
                    builder->setLength(&status, position, sizeof(ISC_QUAD));
                    builder->setSubType(&status, position,
                                        describedType == SQL_BLOB ? described->getSubType(&status, position) : 0);
                    builder->setScale(&status, position, 0);
                    break;
            }
        }
        metadata_ = builder->getMetadata(&status);
        builder->release();
    } catch (...) {
        builder->release();
        throw;
    }
    for (unsigned position = 0; position < slots_.size(); ++position) {
        slots_[position].offset = metadata_->getOffset(&status, position);
        slots_[position].nullOffset = metadata_->getNullOffset(&status, position);
    }
    buffer_.assign(metadata_->getMessageLength(&status), 0);
}

void ParameterSet::buildMessage(IMessageMetadata* described, IAttachment* attachment, ITransaction* transaction) {
    if (slots_.empty()) return;
    try {
        if (!layoutFits()) rebuildLayout(described);
        for (std::size_t position = 0; position < slots_.size(); ++position) {
            const Value& value = values_[static_cast<std::size_t>(groupOfPosition_[position])];
            const Slot& slot = slots_[position];
            unsigned char* field = buffer_.data() + slot.offset;
            *reinterpret_cast<short*>(buffer_.data() + slot.nullOffset) = value.kind == Kind::Null ? -1 : 0;
            switch (value.kind) {
                case Kind::Null:
                    break;
                case Kind::Text:
                    putVarying(field, value.bytes);
                    break;
                case Kind::Double:
                    std::memcpy(field, &value.number, sizeof value.number);
                    break;
                case Kind::Date: {
                    ISC_TIMESTAMP stamp{value.date.firebirdDate(), 0};
                    std::memcpy(field, &stamp, sizeof stamp);
                    break;
                }
                case Kind::Integer:
                    std::memcpy(field, &value.integer, sizeof value.integer);
                    break;
                case Kind::Blob: {
                    if (slot.blobAsText) {
                        putVarying(field, value.bytes);
                        break;
                    }
                    const ISC_QUAD id = fb::writeBlob(attachment, transaction, value.bytes);
                    std::memcpy(field, &id, sizeof id);
                    break;
                }
            }
        }
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
