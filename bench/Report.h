#pragma once

#include <optional>
#include <string>
#include <vector>

namespace bench {

struct Options {
    long rows = 2000;      // documents of the branch; movements are about three times as many
    int repetitions = 3;   // of each of L, E and W, interleaved
    int memoryScale = 10;  // the second memory run uses this many times the documents
    bool memory = true;
    bool window = true;
    bool limitMemory = true;  // also measure the limit loop's peak, as the engine's baseline
    // Memory runs write with forced writes off unless asked: the program does
    // the same work, the disk waits less, the large run ends sooner.
    bool memoryForcedWrites = false;
    // Page cache of the databases in the memory runs; 0 keeps the engine's
    // default. A small cache shows the program's own growth alone.
    int memoryPageBuffers = 0;
    std::string workDir;  // empty: a fresh temporary folder
    // Only create the branch and two empty central databases (forced writes
    // on and off) in --workdir, for profiling a child run by hand.
    bool prepareOnly = false;
    // Over a WAN: the runner and the bare client through a latency proxy
    // at each of these round trips (ms), against the test server. With
    // --wan, rows and repetitions default to kWanDocuments and 1.
    bool wan = false;
    std::vector<int> roundTripsMs = {0, 10, 50};
    // Child mode: one run in this process, report on stdout.
    std::string child;  // "engine" or "limit"
    std::string branch;
    std::string central;
};

// Few enough documents that the 50 ms round trip ends in minutes.
inline constexpr long kWanDocuments = 200;

// Throws std::invalid_argument with a usage hint on a bad argument.
Options parseOptions(const std::vector<std::string>& arguments);
std::string usage();

double median(std::vector<double> values);

// VmHWM of a /proc/<pid>/status text, in kB; nullopt when absent.
std::optional<long> peakResidentKb(const std::string& procStatus);

// What a child run prints on its last line, and reads back.
struct ChildReport {
    long rows = 0;
    long failed = 0;
    double seconds = 0;
    long peakKb = 0;
};
std::string formatChildReport(const ChildReport& report);
std::optional<ChildReport> parseChildReport(const std::string& output);

struct Measured {
    std::string name;                   // "L limit", ...
    std::vector<double> rowsPerSecond;  // one per repetition; empty: not measured
    std::string note;                   // why it is missing
};

struct MemoryFigure {
    long documents = 0;
    long rows = 0;
    long peakKb = 0;
};

struct Report {
    long documents = 0;
    long movements = 0;
    int repetitions = 0;
    int memoryScale = 10;
    bool memoryForcedWrites = false;
    int memoryPageBuffers = 0;
    Measured limit, engine, window;
    // Bn again into a central it has filled (Br), and --changed-only there
    // (Bc): the rerun of a branch that did not change.
    Measured rerunFast, rerunChanged;
    // tavolene-batch per row (B1) and with many rows per commit (Bn), and the
    // limit loop with one commit per table job (L1), the floor of Bn.
    Measured batchPerRow, batchFast, limitPerJob;
    // The reconciliation check (C) of a central database L1 filled, over the
    // same rows; its floor is L1, which reads them once and writes them.
    Measured check;
    std::vector<MemoryFigure> engineMemory;  // at N, then at the larger scale
    std::vector<MemoryFigure> limitMemory;
    std::vector<MemoryFigure> batchFastMemory;
    // The branch file at N and the most the engine caches of one database.
    // While the file is smaller than the cache, the peak from N to the larger
    // scale grows by the cache filling, not by anything of the program's, and
    // the memory target is not judged. 0: not known, judged as measured.
    long long branchBytes = 0;
    long long pageCacheBytes = 0;
};

// The table the benchmark prints, with the targets judged.
std::string formatReport(const Report& report);

}  // namespace bench
