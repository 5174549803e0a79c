#pragma once

#include <string>
#include <vector>

namespace transfer {

enum class ReadKind { Text, Double, DateTime, Integer, Bytes };
enum class WriteKind { Text, Double, Date, Integer, Blob };

inline constexpr const char* kInlineTextSuffix = "_TEXTO";
inline constexpr const char* kInlineLengthSuffix = "_OCTETOS";

// One column of a table's copy: the branch field read in one kind, the
// central parameter set in another. Names are matched without letter case.
struct ColumnMapping {
    std::string field;
    ReadKind read;
    std::string parameter;
    WriteKind write;
};

// Everything that differs between the two copied tables.
struct TableProfile {
    std::string tableName;  // "DOCUREC", as the user knows the table
    std::string selectSql;  // branch select, one :CODEMPRESA parameter
    std::string countSql;   // the number of rows selectSql gives, same parameter
    // selectSql with each bytes (blob) column also as its first bytes in a
    // VARCHAR named <field>_TEXTO and its length in bytes, <field>_OCTETOS:
    // a short blob then arrives with its row instead of by a read of its
    // own. Empty: the table has no such column.
    std::string inlineSelectSql;
    std::string upsertSql;       // central UPDATE OR INSERT
    std::string progressPrefix;  // "Integrando Documento: "
    std::string logPrefix;       // "DOCUREC: Documento = "
    std::string keyField;        // "CodDocto"
    std::vector<ColumnMapping> columns;
};

}  // namespace transfer
