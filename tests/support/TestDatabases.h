#pragma once

// Test databases for the engine, window and benchmark tests: temporary
// folders, dialect-1 databases created with the embedded engine from the
// schemas in tests/schema, rows inserted with parameters, and a reader that
// does not go through db::Query, so what the copy wrote can be checked
// independently of the code that read the branch.

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

inline constexpr const char* kUser = "SYSDBA";
inline constexpr const char* kPassword = "plumtrove";

// A unique folder under $TMPDIR (or /tmp), removed with its contents when
// the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// The statements of a script separated at semicolons, with -- and /* */
// comments removed and quoted text left alone. Empty statements are dropped.
std::vector<std::string> splitStatements(const std::string& sql);

// The text of tests/schema/<fileName>.
std::string schemaText(const std::string& fileName);

// Creates a database of SQL dialect `dialect` (page size 8192, default
// character set `charset`) and runs every statement of `sql` in it, in that
// dialect. The other helpers attach in dialect 1, as the program does.
void createDatabase(const std::string& path, const std::string& sql, const std::string& charset = "NONE",
                    int dialect = 1);
void createBranchDatabase(const std::string& path, const std::string& charset = "NONE");
void createCentralDatabase(const std::string& path, const std::string& charset = "NONE");

// Runs one statement (no splitting) and commits it.
void execute(const std::string& path, const std::string& sql);
// Runs every statement of a script, each committed.
void executeScript(const std::string& path, const std::string& sql);

// A value read back: std::nullopt is NULL.
using Cell = std::optional<std::string>;
using Rows = std::vector<std::vector<Cell>>;

// Runs a select and returns every row, each column as text:
//   CHAR / VARCHAR   the stored bytes (CHAR with its trailing blanks)
//   BLOB             the stored bytes
//   SMALLINT, INTEGER, BIGINT  decimal, with the column's scale ("12.5000")
//   FLOAT / DOUBLE   shortest text that reads back as the same number ("1234.56")
//   TIMESTAMP        "YYYY-MM-DD HH:MM:SS.ffff"
// Reads through the raw client API, not through db::Query.
Rows selectAsText(const std::string& path, const std::string& sql);
// The first column of the first row; fails when the select yields no row.
Cell selectValue(const std::string& path, const std::string& sql);
// Number of rows of `table`, optionally restricted by a WHERE condition.
long long countRows(const std::string& path, const std::string& table, const std::string& where = {});

// The columns of one row to insert, in order. A column set to std::nullopt is
// inserted as NULL. Text values are converted by the server to the column's
// type ("2024-03-15 14:30:00" for a DATE, "1234.56" for a NUMERIC); blob
// values travel as blobs, so they may be megabytes long.
class Row {
public:
    struct Column {
        std::string name;
        std::optional<std::string> value;
        bool blob = false;
    };

    Row& set(const std::string& name, std::optional<std::string> value);
    Row& setBlob(const std::string& name, std::optional<std::string> bytes);
    // Leaves the column out of the insert, so it takes its default.
    Row& remove(const std::string& name);

    std::optional<std::string> value(const std::string& name) const;
    const std::vector<Column>& columns() const { return columns_; }

private:
    std::vector<Column> columns_;
};

// Inserts the rows into `table` over one attachment, each row committed.
void insertRows(const std::string& path, const std::string& table, const std::vector<Row>& rows);
void insertRow(const std::string& path, const std::string& table, const Row& row);

// A receivable document with every one of the copied columns filled with a
// plausible value (and the branch-only columns DT_ALTERACAO and USUARIO_ALT).
Row documentRow(const std::string& codEmpresa, const std::string& codDocto);
// A receivable movement against document `codDocto`, instalment `numOrd`.
Row movementRow(const std::string& codEmpresa, const std::string& codDocto, const std::string& numOrd = "1");

// The column names the copy carries, in the order of the central upserts.
const std::vector<std::string>& documentColumns();
const std::vector<std::string>& movementColumns();

// A server that takes the connection and never answers: a loopback socket
// that listens and never accepts (the kernel completes the handshake).
class SilentServer {
public:
    SilentServer() : socket_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(socket_, 8) != 0 ||
            getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
            throw std::runtime_error("cannot listen on loopback");
        port_ = ntohs(address.sin_port);
    }
    ~SilentServer() { close(socket_); }
    SilentServer(const SilentServer&) = delete;
    SilentServer& operator=(const SilentServer&) = delete;
    std::string database() const { return "127.0.0.1/" + std::to_string(port_) + ":/x.fb"; }

private:
    int socket_, port_ = 0;
};

}  // namespace testsupport
