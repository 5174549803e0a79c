#pragma once

#include <string>

#include "batch/Runner.h"

namespace db {
class Connection;
}

namespace batch {

class Terminal;

// Why the entries must run one after another on this central database
// even though --jobs asks for more: empty when entries of different
// company codes can run at once. They can when every central table's
// primary key holds CODEMPRESA, so that two codes never write one row.
std::string reasonToRunInOrder(db::Connection& central);

// The entries on up to `workers` threads, each with a central and a branch
// connection of its own. The entries of one company code stay on one
// worker in list order, so a key held by two branches of a code ends with
// the later branch's row. After a table job fails, no worker starts another
// entry. `record` gets the summary, the messages and the failed job in list
// order, as a run in order would give them. `central` is open; it serves
// the first worker. What the engine shows goes, line by line, to the
// terminal's stream.
void runEntriesInParallel(const Arguments& arguments, int workers, db::Connection& central, Terminal& terminal,
                          RunRecord& record);

}  // namespace batch
