#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "db/DateTime.h"
#include "db/NamedParameters.h"

namespace Firebird {
class IAttachment;
class IMessageMetadata;
class ITransaction;
}  // namespace Firebird

namespace db {

// The values of a statement's named parameters and the input message that
// carries them. Each value travels in the type it was set as; the server
// converts it to the column's type. The message layout is rebuilt only when
// a kind changes or a text no longer fits its declaration, not per row.
//
// A blob value for a blob column travels as text inside the message when it
// fits (the server makes the blob from it), so the execute carries it: a
// blob of its own costs a create, a write and a close before the execute,
// each a round trip to a remote server. Longer values, and values for
// columns that are not blobs, are sent as blobs.
class ParameterSet {
public:
    enum class Kind : std::uint8_t { Null, Text, Double, Date, Integer, Blob };

    void reset(NamedParameters parsed);

    // A handle for the parameter of that name (ignoring case); throws
    // db::Error when the statement has none.
    int indexOf(std::string_view name) const;

    void setText(int index, std::string_view bytes);
    void setDouble(int index, double value);
    void setDate(int index, const DateTime& value);  // time of day dropped
    void setInteger(int index, std::int32_t value);
    void setBlob(int index, std::string_view bytes);

    // Builds the input message for the statement's described input.
    // `described` may be null for a statement without parameters.
    void buildMessage(Firebird::IMessageMetadata* described, Firebird::IAttachment* attachment,
                      Firebird::ITransaction* transaction);
    Firebird::IMessageMetadata* metadata() const { return metadata_; }
    unsigned char* buffer() { return buffer_.data(); }

    ParameterSet() = default;
    ~ParameterSet();
    ParameterSet(const ParameterSet&) = delete;
    ParameterSet& operator=(const ParameterSet&) = delete;

private:
    struct Value {
        Kind kind = Kind::Null;
        std::string bytes;  // Text and Blob
        double number = 0;
        std::int32_t integer = 0;
        DateTime date;
    };
    struct Slot {
        Kind kind = Kind::Null;
        unsigned capacity = 0;          // declared bytes, for Text and a Blob carried as text
        bool blobAsText = false;        // a Blob value for a blob column, sent in the message itself
        unsigned columnTextLength = 0;  // the column's own length when it holds text
        unsigned offset = 0;
        unsigned nullOffset = 0;
    };

    Value& valueAt(int index);
    bool layoutFits() const;
    static bool textFits(const Slot& slot, std::size_t length);
    static unsigned textCapacity(const Slot& slot, std::size_t length);
    bool blobFits(const Slot& slot, std::size_t length) const;
    void assignBlobBudgets(Firebird::IMessageMetadata* described);
    void rebuildLayout(Firebird::IMessageMetadata* described);
    void releaseMetadata();

    std::vector<std::string> names_;                // one per distinct name, as first written
    std::vector<std::vector<unsigned>> positions_;  // per distinct name: its '?' positions
    std::vector<Value> values_;                     // per distinct name
    std::vector<int> groupOfPosition_;              // per '?': its distinct name
    std::vector<Slot> slots_;                       // per '?': the current message layout
    Firebird::IMessageMetadata* metadata_ = nullptr;
    std::vector<unsigned char> buffer_;
};

}  // namespace db
