#pragma once

#include "transfer/ProgressView.h"
#include "transfer/TableProfile.h"

namespace db {
class Query;
class Statement;
}  // namespace db

namespace transfer {

struct CopyTally {
    int written = 0;
    int failed = 0;
    bool stopped = false;  // the view asked to stop between rows
};

// Counts the rows of the open query, processing events once per row; leaves
// the query at its end.
int retornaQuantRegistros(db::Query& pQuery, ProgressView& view);

// The row copy loop: every row of the open branch query is written through
// the profile's upsert, each committed on its own. A failing row becomes one
// log line and the loop goes on. Failures outside a row's handling (counting,
// re-reading the select, moving to the next row, reading the key of a failed
// row) leave as db::Error.
CopyTally copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view);

CopyTally GravaDocuRecCentral(db::Statement& qryDocuRecCentral, db::Query& qryDocuRecFilial, ProgressView& view);
CopyTally GravaMoviRecCentral(db::Statement& qryMoviRecCentral, db::Query& qryMoviRecFilial, ProgressView& view);

}  // namespace transfer
