#include "Report.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <stdexcept>

namespace bench {

namespace {

long toLong(const std::string& text, const std::string& option) {
    long value = 0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size() || value <= 0)
        throw std::invalid_argument(option + " needs a positive whole number, not \"" + text + "\"");
    return value;
}

std::string fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
    return buffer;
}

std::string padLeft(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

std::string padRight(const std::string& text, std::size_t width) {
    return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

// Megabytes of 10^6 bytes, from kB of 1024 bytes as the kernel reports them.
double megabytes(long kb) { return static_cast<double>(kb) * 1024.0 / 1e6; }

// "+1.2 MB", "-0.4 MB"; a change that rounds to nothing is "+0.0 MB".
std::string signedMb(double mb) {
    std::string digits = fixed(mb, 1);
    if (digits == "-0.0") digits = "0.0";
    return (digits[0] == '-' ? "" : "+") + digits + " MB";
}

constexpr double kEngineTarget = 0.95;
constexpr double kWindowTarget = 0.90;
constexpr double kGrowthTargetMb = 10.0;
constexpr double kBatchTarget = 0.95;           // B1/L
constexpr double kFastToItsFloorTarget = 0.70;  // Bn/L1
constexpr double kFastSpeedupTarget = 15.0;     // Bn/L
constexpr double kChangedRerunTarget = 2.0;     // Bc/Br, an unchanged branch
constexpr double kCheckTarget = 0.50;           // C/L1

// "0,10,50": round trips in milliseconds, zero allowed.
std::vector<int> roundTrips(const std::string& text, const std::string& option) {
    std::vector<int> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        int value = 0;
        const auto result = std::from_chars(item.data(), item.data() + item.size(), value);
        if (item.empty() || result.ec != std::errc() || result.ptr != item.data() + item.size() || value < 0)
            throw std::invalid_argument(option + " needs milliseconds separated by commas, as 0,10,50, not \"" + text +
                                        "\"");
        values.push_back(value);
        if (comma == text.size()) return values;
        start = comma + 1;
    }
}

}  // namespace

std::string usage() {
    return "usage: tavolene_bench [--rows N] [--reps R] [--mem-scale K] [--no-memory] [--no-limit-memory]\n"
           "                      [--memory-forced-writes] [--memory-page-buffers P] [--no-window] [--workdir DIR]\n"
           "       tavolene_bench --prepare-only --workdir DIR [--rows N]\n"
           "       tavolene_bench --wan [--rows N] [--reps R] [--round-trips MS,MS,...]\n"
           "       tavolene_bench --child engine|limit|window --branch FILE --central FILE\n";
}

Options parseOptions(const std::vector<std::string>& arguments) {
    Options options;
    bool rowsGiven = false, repetitionsGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        auto value = [&]() -> const std::string& {
            if (i + 1 >= arguments.size()) throw std::invalid_argument(argument + " needs a value");
            return arguments[++i];
        };
        if (argument == "--rows") {
            options.rows = toLong(value(), argument);
            rowsGiven = true;
        } else if (argument == "--reps") {
            options.repetitions = static_cast<int>(toLong(value(), argument));
            repetitionsGiven = true;
        } else if (argument == "--mem-scale")
            options.memoryScale = static_cast<int>(toLong(value(), argument));
        else if (argument == "--no-memory")
            options.memory = false;
        else if (argument == "--no-limit-memory")
            options.limitMemory = false;
        else if (argument == "--memory-page-buffers")
            options.memoryPageBuffers = static_cast<int>(toLong(value(), argument));
        else if (argument == "--memory-forced-writes")
            options.memoryForcedWrites = true;
        else if (argument == "--no-window")
            options.window = false;
        else if (argument == "--workdir")
            options.workDir = value();
        else if (argument == "--prepare-only")
            options.prepareOnly = true;
        else if (argument == "--wan")
            options.wan = true;
        else if (argument == "--round-trips")
            options.roundTripsMs = roundTrips(value(), argument);
        else if (argument == "--child")
            options.child = value();
        else if (argument == "--branch")
            options.branch = value();
        else if (argument == "--central")
            options.central = value();
        else
            throw std::invalid_argument("unknown argument \"" + argument + "\"");
    }
    if (options.wan && (!options.child.empty() || options.prepareOnly))
        throw std::invalid_argument("--wan runs on its own, without --child or --prepare-only");
    if (options.wan) {
        if (!rowsGiven) options.rows = kWanDocuments;
        if (!repetitionsGiven) options.repetitions = 1;
    }
    if (options.prepareOnly && options.workDir.empty()) throw std::invalid_argument("--prepare-only needs --workdir");
    if (!options.child.empty()) {
        if (options.child != "engine" && options.child != "limit" && options.child != "window")
            throw std::invalid_argument("--child takes engine, limit or window, not \"" + options.child + "\"");
        if (options.branch.empty() || options.central.empty())
            throw std::invalid_argument("--child needs --branch and --central");
    }
    return options;
}

double median(std::vector<double> values) {
    if (values.empty()) throw std::invalid_argument("median of nothing");
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::optional<long> peakResidentKb(const std::string& procStatus) {
    std::istringstream lines(procStatus);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("VmHWM:", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        long kb = 0;
        std::string unit;
        if (fields >> kb >> unit && unit == "kB") return kb;
        return std::nullopt;
    }
    return std::nullopt;
}

std::string formatChildReport(const ChildReport& report) {
    return "child rows=" + std::to_string(report.rows) + " failed=" + std::to_string(report.failed) +
           " seconds=" + fixed(report.seconds, 3) + " peak_kb=" + std::to_string(report.peakKb);
}

std::optional<ChildReport> parseChildReport(const std::string& output) {
    const auto start = output.rfind("child rows=");
    if (start == std::string::npos) return std::nullopt;
    ChildReport report;
    const int matched = std::sscanf(output.c_str() + start, "child rows=%ld failed=%ld seconds=%lf peak_kb=%ld",
                                    &report.rows, &report.failed, &report.seconds, &report.peakKb);
    if (matched != 4) return std::nullopt;
    return report;
}

std::string formatReport(const Report& report) {
    std::ostringstream out;
    const long rows = report.documents + report.movements;
    out << "Tavolene benchmark: N = " << report.documents << " documents + " << report.movements
        << " movements = " << rows << " rows per run, " << report.repetitions
        << " repetitions of each, interleaved in an order drawn for each repetition, each into a fresh central database\n\n";
    out << "                 rows/s (median)   each repetition                     ratio to L\n";
    const bool haveLimit = !report.limit.rowsPerSecond.empty();
    const double limit = haveLimit ? median(report.limit.rowsPerSecond) : 0;
    std::optional<double> engineRatio, windowRatio, batchRatio, fastRatio;
    for (const Measured* measured :
         {&report.limit, &report.engine, &report.window, &report.batchPerRow, &report.batchFast, &report.limitPerJob,
          &report.check, &report.rerunFast, &report.rerunChanged}) {
        out << padRight(measured->name, 17);
        if (measured->rowsPerSecond.empty()) {
            out << "not measured" << (measured->note.empty() ? "" : ": " + measured->note) << "\n";
            continue;
        }
        const double value = median(measured->rowsPerSecond);
        std::string each;
        for (double one : measured->rowsPerSecond) each += padLeft(fixed(one, 1), 9);
        out << padLeft(fixed(value, 1), 15) << "   " << padRight(each, 33);
        if (haveLimit) {
            const double ratio = value / limit;
            out << padLeft(fixed(ratio, 3), 12);
            if (measured == &report.engine) engineRatio = ratio;
            if (measured == &report.window) windowRatio = ratio;
            if (measured == &report.batchPerRow) batchRatio = ratio;
            if (measured == &report.batchFast) fastRatio = ratio;
        }
        out << "\n";
    }

    std::optional<double> growthMb, fastGrowthMb;
    if (!report.engineMemory.empty()) {
        out << "\nPeak resident memory (VmHWM of a child process that runs one conversion; MB = 10^6 bytes;\n"
            << "central database with forced writes " << (report.memoryForcedWrites ? "on" : "off")
            << "; database page cache "
            << (report.memoryPageBuffers ? std::to_string(report.memoryPageBuffers) + " pages" : "the engine's default")
            << ")\n";
        auto line = [&](const std::string& name, const std::vector<MemoryFigure>& figures) {
            if (figures.empty()) return std::optional<double>();
            out << padRight(name, 17);
            for (const MemoryFigure& figure : figures)
                out << padLeft(fixed(megabytes(figure.peakKb), 1) + " MB at " + std::to_string(figure.documents) +
                                   " docs (" + std::to_string(figure.rows) + " rows)",
                               38);
            std::optional<double> growth;
            if (figures.size() >= 2) {
                growth = megabytes(figures.back().peakKb) - megabytes(figures.front().peakKb);
                out << "   growth " << signedMb(*growth);
            }
            out << "\n";
            return growth;
        };
        growthMb = line("E  engine", report.engineMemory);
        fastGrowthMb = line("Bn runner", report.batchFastMemory);
        const std::optional<double> limitGrowth = line("L  limit", report.limitMemory);
        // The embedded database engine's page cache fills with the files
        // and is in both figures; what E adds beyond L is the program's.
        if (growthMb && limitGrowth)
            out << "E growth beyond L's (the program's own): " << signedMb(*growthMb - *limitGrowth) << "\n";
    }

    out << "\nTargets:\n";
    auto judge = [&](const std::string& what, std::optional<double> value, bool met, const std::string& shown) {
        out << "  " << padRight(what, 34);
        if (value)
            out << (met ? "met     " : "MISSED  ") << shown << "\n";
        else
            out << "not measured\n";
    };
    judge("E/L >= 0.95", engineRatio, engineRatio && *engineRatio >= kEngineTarget,
          engineRatio ? fixed(*engineRatio, 3) : "");
    judge("W/L >= 0.90", windowRatio, windowRatio && *windowRatio >= kWindowTarget,
          windowRatio ? fixed(*windowRatio, 3) : "");
    const std::optional<double> fastToItsFloor =
        report.batchFast.rowsPerSecond.empty() || report.limitPerJob.rowsPerSecond.empty()
            ? std::nullopt
            : std::optional(median(report.batchFast.rowsPerSecond) / median(report.limitPerJob.rowsPerSecond));
    judge("B1/L >= 0.95", batchRatio, batchRatio && *batchRatio >= kBatchTarget,
          batchRatio ? fixed(*batchRatio, 3) : "");
    judge("Bn/L1 >= 0.70", fastToItsFloor, fastToItsFloor && *fastToItsFloor >= kFastToItsFloorTarget,
          fastToItsFloor ? fixed(*fastToItsFloor, 3) : "");
    judge("Bn/L >= 15", fastRatio, fastRatio && *fastRatio >= kFastSpeedupTarget,
          fastRatio ? fixed(*fastRatio, 1) : "");
    const std::optional<double> checkRatio =
        report.check.rowsPerSecond.empty() || report.limitPerJob.rowsPerSecond.empty()
            ? std::nullopt
            : std::optional(median(report.check.rowsPerSecond) / median(report.limitPerJob.rowsPerSecond));
    judge("C/L1 >= 0.50", checkRatio, checkRatio && *checkRatio >= kCheckTarget,
          checkRatio ? fixed(*checkRatio, 3) : "");
    // A repetition's pair ran in one round, so the median of the pairs'
    // ratios follows the machine's load less than a ratio of medians.
    std::vector<double> rerunRatios;
    for (std::size_t i = 0; i < report.rerunChanged.rowsPerSecond.size() && i < report.rerunFast.rowsPerSecond.size();
         ++i)
        rerunRatios.push_back(report.rerunChanged.rowsPerSecond[i] / report.rerunFast.rowsPerSecond[i]);
    const std::optional<double> rerunRatio = rerunRatios.empty() ? std::nullopt : std::optional(median(rerunRatios));
    judge("Bc/Br >= 2", rerunRatio, rerunRatio && *rerunRatio >= kChangedRerunTarget,
          rerunRatio ? fixed(*rerunRatio, 2) : "");
    for (const auto& [who, growth] : {std::pair{"E", growthMb}, std::pair{"Bn", fastGrowthMb}}) {
        const std::string memoryTarget =
            std::string(who) + " memory at " + std::to_string(report.memoryScale) + "N <= at N + 10 MB";
        if (growth && report.branchBytes < report.pageCacheBytes)
            out << "  " << padRight(memoryTarget, 34) << "not measured at this size: the branch file at N ("
                << fixed(report.branchBytes / 1e6, 1) << " MB) is smaller than the database page cache ("
                << fixed(report.pageCacheBytes / 1e6, 1) << " MB), which is still filling between N and "
                << report.memoryScale << "N\n";
        else
            judge(memoryTarget, growth, growth && *growth <= kGrowthTargetMb, growth ? signedMb(*growth) : "");
    }
    return out.str();
}

}  // namespace bench
