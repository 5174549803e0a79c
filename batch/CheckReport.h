#pragma once

#include <cstdio>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "batch/Reconciliation.h"

namespace batch {

// "DOCUREC 01 missing CODEMPRESA=01 TIPODOCTO=DP CODDOCTO=4711 from /data/a.fdb"
std::string differenceLine(const TableCheck& table, const Difference& difference);

// "DOCUREC 01 /data/a.fdb: in sync, 120 rows; VALORDOCTO branch 10.00 central 10.00 difference 0.00; ..."
// A code given by several entries names the union of their files.
std::string verdictLine(const TableCheck& table);

// Writes the check's findings as they come: the first differences of each
// table and one verdict line per table on `out`. With `keepAll`, every
// difference is also kept, in a temporary file rather than in memory, for
// the JSON report.
class CheckReport : public CheckSink {
public:
    static constexpr int kShownPerTable = 100;

    CheckReport(std::ostream& out, bool keepAll);

    void difference(const TableCheck& table, const Difference& difference) override;
    void tableDone(const TableCheck& table) override;

    // The check as one JSON object: its verdict and every table with all of
    // its differences.
    void writeJson(std::ostream& json, const CheckSummary& summary) const;

private:
    struct Closer {
        void operator()(std::FILE* file) const { std::fclose(file); }
    };
    struct KeptTable {
        std::string json;  // the table without its differences
        long begin = 0;    // its differences in the spill file
        long end = 0;
    };

    std::ostream& out_;
    std::unique_ptr<std::FILE, Closer> spill_;
    long tableBegin_ = 0;
    long long inTable_ = 0;
    std::vector<KeptTable> tables_;
};

}  // namespace batch
