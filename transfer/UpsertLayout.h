#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transfer/TableProfile.h"

namespace db {
class Connection;
}

namespace transfer {

// How one distinct parameter of the upsert travels in a statement of many
// rows.
struct UpsertInput {
    WriteKind kind = WriteKind::Text;
    std::string type;            // its declared type
    std::string blobType;        // Blob: the blob input's type; the text one is `type`
    unsigned textCapacity = 0;   // Text, and Blob as text: bytes the input holds
    unsigned firstPosition = 0;  // within a row's inputs
};

// A table's upsert read as "UPDATE OR INSERT INTO table (columns) VALUES
// (markers) ...", one marker per column, with its distinct parameters
// declared in the types the per-row statement sends them.
struct UpsertLayout {
    std::string table;
    std::vector<std::string> bodyPieces;  // the upsert around its markers
    std::vector<std::string> columns;     // per marker: its column
    std::vector<int> inputOfMarker;       // per marker: its input
    std::vector<UpsertInput> inputs;      // per distinct parameter
    std::vector<int> inputOfMapping;      // per profile column
    unsigned inputsPerRow = 0;            // a blob input takes two: its text and its blob
    bool plainUpsert = false;             // nothing after its VALUES list
};

// The layout of the profile's upsert against the central table's columns;
// nothing when the upsert has another shape, a parameter is set in two write
// kinds, or the central table lacks a column it names.
std::optional<UpsertLayout> readUpsertLayout(db::Connection& central, const TableProfile& profile);

// Where the input after `input` starts in a message that places `input` at
// `offset`: Firebird's layout, each value at its type's alignment, then its
// null flag.
unsigned placeInput(unsigned offset, const UpsertInput& input);

std::string upperName(std::string text);
bool isPlainName(const std::string& name);

}  // namespace transfer
