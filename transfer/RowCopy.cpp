#include "transfer/RowCopy.h"

#include "db/Error.h"
#include "db/Query.h"
#include "db/Statement.h"
#include "transfer/DisplayText.h"
#include "transfer/Tables.h"

#include <optional>
#include <string>
#include <vector>

namespace transfer {

namespace {

// A name resolved to its index once per job. A name that is missing keeps
// the failure, so every row fails with the same message at the same step,
// as a lookup per row would.
class Lookup {
public:
    template <typename Resolve>
    Lookup(Resolve&& resolve) {
        try {
            index_ = resolve();
        } catch (const db::Error& failure) {
            missing_ = failure.what();
        }
    }

    int index() const {
        if (!index_)
            throw db::Error(missing_);
        return *index_;
    }

private:
    std::optional<int> index_;
    std::string missing_;
};

struct ResolvedColumn {
    const ColumnMapping& mapping;
    Lookup field;
    Lookup parameter;
};

// The branch field and central parameter of every mapped column, plus the
// key field; resolved on the first row, when the result's columns are known.
class ResolvedProfile {
public:
    ResolvedProfile(const TableProfile& profile, db::Query& branch, db::Statement& central)
        : key_([&] { return branch.fieldIndex(profile.keyField); }) {
        columns_.reserve(profile.columns.size());
        for (const ColumnMapping& mapping : profile.columns)
            columns_.push_back(ResolvedColumn{mapping, Lookup([&] { return branch.fieldIndex(mapping.field); }),
                                              Lookup([&] { return central.paramIndex(mapping.parameter); })});
    }

    int keyField() const { return key_.index(); }
    const std::vector<ResolvedColumn>& columns() const { return columns_; }

private:
    Lookup key_;
    std::vector<ResolvedColumn> columns_;
};

void copyColumn(const ResolvedColumn& column, db::Query& branch, db::Statement& central) {
    const int field = column.field.index();
    switch (column.mapping.read) {
    case ReadKind::Text:
    case ReadKind::Bytes: {
        // Bytes as stored: no character set conversion on the way.
        const std::string value =
            column.mapping.read == ReadKind::Text ? branch.asText(field) : branch.asBytes(field);
        const int parameter = column.parameter.index();
        if (column.mapping.write == WriteKind::Blob)
            central.setBlob(parameter, value);
        else
            central.setText(parameter, value);
        return;
    }
    case ReadKind::Double: {
        const double value = branch.asDouble(field);
        central.setDouble(column.parameter.index(), value);
        return;
    }
    case ReadKind::DateTime: {
        const db::DateTime value = branch.asDateTime(field);
        central.setDate(column.parameter.index(), value);
        return;
    }
    case ReadKind::Integer: {
        const std::int32_t value = branch.asInteger(field);
        central.setInteger(column.parameter.index(), value);
        return;
    }
    }
}

}  // namespace

int retornaQuantRegistros(db::Query& pQuery, ProgressView& view) {
    int count = 0;
    pQuery.first();
    while (!pQuery.eof()) {
        view.processEvents();
        if (view.stopRequested())
            break;
        ++count;
        pQuery.next();
    }
    return count;
}

CopyTally copyRows(db::Statement& central, db::Query& branch, const TableProfile& profile, ProgressView& view) {
    CopyTally tally;
    central.clearSql();
    central.addSql(profile.upsertSql);
    view.setProgressText("Processando...");
    view.setGaugeMaximum(retornaQuantRegistros(branch, view));
    if (view.stopRequested()) {
        tally.stopped = true;
        return tally;
    }
    branch.first();  // the counting pass left the forward-only result at its end: runs the select again

    std::optional<ResolvedProfile> resolved;
    while (!branch.eof()) {
        if (!resolved)
            resolved.emplace(profile, branch, central);
        try {
            view.stepGauge();
            view.processEvents();
            view.setProgressText(profile.progressPrefix + displayText(branch.asText(resolved->keyField())));
            for (const ResolvedColumn& column : resolved->columns())
                copyColumn(column, branch, central);
            central.execute();
            ++tally.written;
        } catch (const std::exception& failure) {
            // Reading the key again may itself fail (no key column); that
            // failure is not a row's and leaves the loop.
            const std::string key = branch.asText(resolved->keyField());
            view.appendLog(profile.logPrefix + displayText(key) + " Erro: " + displayText(failure.what()));
            ++tally.failed;
        }
        branch.next();
        if (view.stopRequested()) {
            tally.stopped = !branch.eof();
            break;
        }
    }
    return tally;
}

CopyTally GravaDocuRecCentral(db::Statement& qryDocuRecCentral, db::Query& qryDocuRecFilial, ProgressView& view) {
    return copyRows(qryDocuRecCentral, qryDocuRecFilial, docuRecProfile(), view);
}

CopyTally GravaMoviRecCentral(db::Statement& qryMoviRecCentral, db::Query& qryMoviRecFilial, ProgressView& view) {
    return copyRows(qryMoviRecCentral, qryMoviRecFilial, moviRecProfile(), view);
}

}  // namespace transfer
