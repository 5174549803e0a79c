#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "BranchData.h"
#include "EngineRun.h"
#include "LatencyProxy.h"
#include "LimitLoop.h"
#include "Report.h"
#include "TestDatabases.h"
#include "transfer/Tables.h"

namespace {

using bench::BranchRowSource;

// --- the limit loop's statements, derived from the program's own ---------

TEST(LimitStatements, CarryEveryColumnOfTheProgramsUpserts) {
    EXPECT_EQ(bench::upsertColumns(transfer::QueryInsertDocuRecCentral()).size(), 48u);
    EXPECT_EQ(bench::upsertColumns(transfer::QueryInsertMoviRecCentral()).size(), 38u);

    for (const bench::LimitTable& table : {bench::limitDocuRec(), bench::limitMoviRec()}) {
        EXPECT_EQ(table.upsert.find(':'), std::string::npos) << table.upsert;
        const auto markers = std::count(table.upsert.begin(), table.upsert.end(), '?');
        EXPECT_EQ(static_cast<std::size_t>(markers), table.dateOnly.size());
        EXPECT_EQ(std::count(table.select.begin(), table.select.end(), '?'), 1) << table.select;
    }
    // DT_VENDA, DT_EMISSAO, DT_VENCIMENTO; DT_MOVIMENTO, DT_VENCIMENTO.
    // DATAHORA keeps its time: it is copied as text.
    const auto dateOnly = [](const bench::LimitTable& table) {
        return std::count(table.dateOnly.begin(), table.dateOnly.end(), true);
    };
    EXPECT_EQ(dateOnly(bench::limitDocuRec()), 3);
    EXPECT_EQ(dateOnly(bench::limitMoviRec()), 2);
}

TEST(LimitStatements, MarkersAndColumnListsAreParsed) {
    EXPECT_EQ(bench::positionalMarkers("UPDATE OR INSERT INTO T (A, B_1) VALUES (:A, :B_1)"),
              "UPDATE OR INSERT INTO T (A, B_1) VALUES (?, ?)");
    EXPECT_EQ(bench::positionalMarkers("SELECT 1 FROM T WHERE X = :X1 AND Y = 2"),
              "SELECT 1 FROM T WHERE X = ? AND Y = 2");
    EXPECT_EQ(bench::upsertColumns("UPDATE OR INSERT INTO T (A,\n  B , C) VALUES (:A, :B, :C)"),
              (std::vector<std::string>{"A", "B", "C"}));
    EXPECT_THROW(bench::upsertColumns("DELETE FROM T"), std::invalid_argument);
    EXPECT_THROW(bench::upsertColumns("UPDATE OR INSERT INTO T (A,,B) VALUES (:A, :B)"), std::invalid_argument);
}

// --- the generated branch data -------------------------------------------

TEST(BranchRows, AreDeterministicForASeed) {
    BranchRowSource first(7), second(7), other(8);
    for (long number = 0; number < 20; ++number) {
        const auto row = first.document(number);
        EXPECT_EQ(row, second.document(number));
        EXPECT_EQ(first.movementCountForLastDocument(), second.movementCountForLastDocument());
        for (int instalment = 1; instalment <= first.movementCountForLastDocument(); ++instalment)
            EXPECT_EQ(first.movement(instalment), second.movement(instalment));
    }
    bool differs = false;
    BranchRowSource again(7);
    for (long number = 0; number < 20; ++number) differs |= again.document(number) != other.document(number);
    EXPECT_TRUE(differs);
}

TEST(BranchRows, HaveTheRealisticMix) {
    BranchRowSource source;
    const auto& columns = BranchRowSource::documentColumns();
    const auto column = [&](const std::string& name) {
        return static_cast<std::size_t>(std::find(columns.begin(), columns.end(), name) - columns.begin());
    };
    const std::size_t blob = BranchRowSource::documentBlobColumn();
    ASSERT_EQ(columns[blob], "ANOTACOES");

    const long documents = 2000;
    long movements = 0, nullCells = 0, cells = 0, accented = 0, emptyBlobs = 0, nullBlobs = 0, timed = 0;
    std::map<std::string, long> perCode;
    std::set<std::string> keys;
    std::size_t shortestBlob = 100000, longestBlob = 0;
    for (long number = 0; number < documents; ++number) {
        const auto row = source.document(number);
        ASSERT_EQ(row.size(), columns.size());
        ++perCode[*row[0]];
        EXPECT_TRUE(keys.insert(*row[0] + "/" + *row[1] + "/" + *row[2]).second) << "duplicate key";
        EXPECT_TRUE(row[column("ORDEM")].has_value());
        for (const auto& cell : row) {
            ++cells;
            nullCells += !cell;
            if (cell && std::any_of(cell->begin(), cell->end(), [](char c) { return c & 0x80; })) ++accented;
        }
        const auto& venda = row[column("DT_VENDA")];
        timed += venda && venda->substr(11) != "00:00:00";
        if (!row[blob])
            ++nullBlobs;
        else if (row[blob]->empty())
            ++emptyBlobs;
        else {
            shortestBlob = std::min(shortestBlob, row[blob]->size());
            longestBlob = std::max(longestBlob, row[blob]->size());
        }
        for (int instalment = 1; instalment <= source.movementCountForLastDocument(); ++instalment) {
            const auto movement = source.movement(instalment);
            ASSERT_EQ(movement.size(), BranchRowSource::movementColumns().size());
            EXPECT_EQ(movement[2], row[2]) << "a movement belongs to its document";
            EXPECT_EQ(*movement[3], std::to_string(instalment));
            EXPECT_TRUE(movement[14].has_value()) << "DATAHORA";
            ++movements;
        }
    }
    EXPECT_EQ(perCode.size(), 2u);
    EXPECT_NEAR(static_cast<double>(perCode["01"]) / documents, 0.6, 0.01);
    EXPECT_NEAR(static_cast<double>(movements) / documents, 3.0, 0.25);
    EXPECT_GT(nullCells, cells / 10);
    EXPECT_LT(nullCells, cells / 2);
    EXPECT_GT(accented, documents / 10);
    EXPECT_GT(timed, documents / 2);
    EXPECT_GT(nullBlobs, 0);
    EXPECT_GT(emptyBlobs, 0);
    EXPECT_GE(shortestBlob, 200u);
    EXPECT_LE(longestBlob, 1000u);
}

// --- the report ------------------------------------------------------------

TEST(Report, MedianOfOddAndEvenCounts) {
    EXPECT_DOUBLE_EQ(bench::median({3, 1, 2}), 2);
    EXPECT_DOUBLE_EQ(bench::median({4, 1, 3, 2}), 2.5);
    EXPECT_THROW(bench::median({}), std::invalid_argument);
}

TEST(Report, PeakResidentMemoryIsReadFromProcStatus) {
    EXPECT_EQ(bench::peakResidentKb("Name:\tx\nVmPeak:\t  9000 kB\nVmHWM:\t   51234 kB\nVmRSS:\t 100 kB\n"), 51234);
    EXPECT_EQ(bench::peakResidentKb("Name:\tx\nVmRSS:\t 100 kB\n"), std::nullopt);
    EXPECT_EQ(bench::peakResidentKb("VmHWM:\t lots\n"), std::nullopt);
}

TEST(Report, ChildReportSurvivesTheTripThroughTheOutput) {
    const bench::ChildReport sent{800123, 2, 412.5, 61234};
    const auto received = bench::parseChildReport("noise\n" + bench::formatChildReport(sent) + "\n");
    ASSERT_TRUE(received);
    EXPECT_EQ(received->rows, sent.rows);
    EXPECT_EQ(received->failed, sent.failed);
    EXPECT_DOUBLE_EQ(received->seconds, sent.seconds);
    EXPECT_EQ(received->peakKb, sent.peakKb);
    EXPECT_FALSE(bench::parseChildReport("child rows=12 failed=x"));
    EXPECT_FALSE(bench::parseChildReport(""));
}

TEST(Report, OptionsAreParsedAndBadOnesRefused) {
    const bench::Options options =
        bench::parseOptions({"--rows", "20000", "--reps", "5", "--mem-scale", "4", "--no-window", "--no-limit-memory",
                             "--memory-page-buffers", "128"});
    EXPECT_EQ(options.rows, 20000);
    EXPECT_EQ(options.repetitions, 5);
    EXPECT_EQ(options.memoryScale, 4);
    EXPECT_FALSE(options.window);
    EXPECT_FALSE(options.limitMemory);
    EXPECT_TRUE(options.memory);
    EXPECT_EQ(options.memoryPageBuffers, 128);
    EXPECT_EQ(bench::parseOptions({}).memoryPageBuffers, 0);
    EXPECT_TRUE(options.child.empty());

    EXPECT_THROW(bench::parseOptions({"--rows"}), std::invalid_argument);
    EXPECT_THROW(bench::parseOptions({"--rows", "0"}), std::invalid_argument);
    EXPECT_THROW(bench::parseOptions({"--rows", "12x"}), std::invalid_argument);
    EXPECT_THROW(bench::parseOptions({"--fast"}), std::invalid_argument);
    EXPECT_THROW(bench::parseOptions({"--child", "engine"}), std::invalid_argument);
    EXPECT_THROW(bench::parseOptions({"--child", "both", "--branch", "a", "--central", "b"}), std::invalid_argument);
    EXPECT_EQ(bench::parseOptions({"--child", "limit", "--branch", "a", "--central", "b"}).child, "limit");

    // Over a WAN: few documents and one run unless asked, in either order.
    const bench::Options wan = bench::parseOptions({"--wan", "--round-trips", "0,25"});
    EXPECT_TRUE(wan.wan);
    EXPECT_EQ(wan.roundTripsMs, (std::vector<int>{0, 25}));
    EXPECT_EQ(wan.rows, bench::kWanDocuments);
    EXPECT_EQ(wan.repetitions, 1);
    const bench::Options sized = bench::parseOptions({"--rows", "50", "--reps", "2", "--wan"});
    EXPECT_EQ(sized.rows, 50);
    EXPECT_EQ(sized.repetitions, 2);
    EXPECT_EQ(sized.roundTripsMs, (std::vector<int>{0, 10, 50}));
    EXPECT_FALSE(bench::parseOptions({}).wan);
    for (const char* bad : {"", "10,", ",10", "10,,50", "10;50", "-5", "5ms"})
        EXPECT_THROW(bench::parseOptions({"--wan", "--round-trips", bad}), std::invalid_argument) << bad;
    EXPECT_THROW(bench::parseOptions({"--wan", "--child", "limit", "--branch", "a", "--central", "b"}),
                 std::invalid_argument);
}

bench::Report sampleReport() {
    bench::Report report;
    report.documents = 100;
    report.movements = 300;
    report.repetitions = 3;
    report.limit = {"L  limit", {1000, 1010, 990}, ""};
    report.engine = {"E  engine", {960, 940, 955}, ""};
    report.window = {"W  window", {}, "the window is not part of this build"};
    report.engineMemory = {{100, 400, 30000}, {1000, 4000, 35000}};
    return report;
}

TEST(Report, JudgesEachTargetFromTheMedians) {
    bench::Report report = sampleReport();
    std::string text = bench::formatReport(report);
    // E median 955 / L median 1000.
    EXPECT_NE(text.find("E/L >= 0.95                       met     0.955"), std::string::npos) << text;
    EXPECT_NE(text.find("W/L >= 0.90                       not measured"), std::string::npos) << text;
    EXPECT_NE(text.find("not measured: the window is not part of this build"), std::string::npos) << text;
    // 5000 kB more: 5.1 MB.
    EXPECT_NE(text.find("met     +5.1 MB"), std::string::npos) << text;
    EXPECT_EQ(text.find("beyond L's"), std::string::npos) << "no limit figures, no comparison";

    report.limitMemory = {{100, 400, 29000}, {1000, 4000, 33000}};  // +4.1 MB
    text = bench::formatReport(report);
    EXPECT_NE(text.find("E growth beyond L's (the program's own): +1.0 MB"), std::string::npos) << text;
    report.limitMemory.back().peakKb = 34020;  // L grew 20 kB more than E
    text = bench::formatReport(report);
    EXPECT_NE(text.find("E growth beyond L's (the program's own): +0.0 MB"), std::string::npos) << text;

    report.engine.rowsPerSecond = {949, 900, 980};
    report.window.rowsPerSecond = {899, 850, 870};
    report.engineMemory.back().peakKb = 30000 + 9800;  // 10.04 MB
    text = bench::formatReport(report);
    EXPECT_NE(text.find("E/L >= 0.95                       MISSED  0.949"), std::string::npos) << text;
    EXPECT_NE(text.find("W/L >= 0.90                       MISSED  0.870"), std::string::npos) << text;
    EXPECT_NE(text.find("MISSED  +10.0 MB"), std::string::npos) << text;
}

// Growth that is only the page cache filling (files smaller than the cache
// at N) is no verdict on the program, either way.
TEST(Report, MemoryTargetIsJudgedOnlyOnceThePageCacheIsFullAtN) {
    bench::Report report = sampleReport();
    report.engineMemory.back().peakKb = 30000 + 27000;  // +27.6 MB
    report.pageCacheBytes = 2048 * 8192LL;
    report.branchBytes = report.pageCacheBytes - 1;
    std::string text = bench::formatReport(report);
    EXPECT_NE(text.find("10 MB   not measured at this size"), std::string::npos) << text;
    EXPECT_EQ(text.find("MISSED"), std::string::npos) << text;
    report.branchBytes = report.pageCacheBytes;
    text = bench::formatReport(report);
    EXPECT_NE(text.find("MISSED  +27.6 MB"), std::string::npos) << text;
}

// --- the limit loop against the engine, on real databases ------------------

// The limit is only a fair floor if it writes what the program writes: the
// two central databases must hold the same rows, value for value.
TEST(LimitLoop, WritesWhatTheEngineWrites) {
    testsupport::TempDir folder;
    const std::string branch = folder.file("branch.fdb");
    const bench::BranchCounts counts = bench::generateBranch(branch, 60);
    const bench::BranchCounts stored = bench::countRows(branch);
    EXPECT_EQ(stored.documents, 60);
    EXPECT_EQ(stored.movements, counts.movements);
    EXPECT_GT(counts.movements, 100);

    const std::string byLimit = folder.file("limit.fdb");
    const std::string byEngine = folder.file("engine.fdb");
    bench::createCentral(byLimit);
    bench::createCentral(byEngine, false);
    const bench::LimitTally limit = bench::runLimit(branch, byLimit, bench::kCompanyCodes);
    const bench::EngineTally engine = bench::runEngine(branch, byEngine, bench::kCompanyCodes);
    EXPECT_EQ(limit.written, counts.rows());
    EXPECT_EQ(limit.failed, 0);
    EXPECT_EQ(engine.written, counts.rows());
    EXPECT_TRUE(engine.problems.empty()) << engine.problems.front();

    for (const char* select : {"SELECT * FROM DOCUREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO",
                               "SELECT * FROM MOVIREC ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO, NUMORD"}) {
        const testsupport::Rows fromLimit = testsupport::selectAsText(byLimit, select);
        const testsupport::Rows fromEngine = testsupport::selectAsText(byEngine, select);
        ASSERT_EQ(fromLimit.size(), fromEngine.size()) << select;
        for (std::size_t i = 0; i < fromLimit.size(); ++i)
            ASSERT_EQ(fromLimit[i], fromEngine[i]) << select << ", row " << i;
    }
    // Nothing arrives as NULL but the blob, whose empty value the data
    // layer may store either way.
    EXPECT_EQ(testsupport::countRows(byLimit, "DOCUREC", "OBSERVACAO IS NULL OR DT_VENDA IS NULL OR VALORPAGO IS NULL"),
              0);
    EXPECT_GT(testsupport::countRows(branch, "DOCUREC", "OBSERVACAO IS NULL OR DT_VENDA IS NULL OR VALORPAGO IS NULL"),
              0);
}

// The memory runs rely on these two settings reaching the database header;
// a wrong DPB item would leave them silently at the defaults.
TEST(DatabaseSettings, ForcedWritesAndPageCacheReachTheHeader) {
    testsupport::TempDir folder;
    const std::string synced = folder.file("synced.fdb");
    const std::string unsynced = folder.file("unsynced.fdb");
    bench::createCentral(synced);
    bench::createCentral(unsynced, false);
    const char* forcedWrites = "SELECT MON$FORCED_WRITES FROM MON$DATABASE";
    EXPECT_EQ(testsupport::selectValue(synced, forcedWrites), "1");
    EXPECT_EQ(testsupport::selectValue(unsynced, forcedWrites), "0");

    bench::setPageBuffers(unsynced, 128);
    EXPECT_EQ(testsupport::selectValue(unsynced, "SELECT MON$PAGE_BUFFERS FROM MON$DATABASE"), "128");
}

// A row the central database refuses is rolled back and counted, and the
// loop goes on, so a benchmark run that loses rows cannot pass for a good one.
// Per row, and with one commit per table job (L1), where a refused row is
// undone alone and the rest of its transaction still commits.
TEST(LimitLoop, CountsRefusedRowsAndGoesOn) {
    testsupport::TempDir folder;
    const std::string branch = folder.file("branch.fdb");
    const bench::BranchCounts counts = bench::generateBranch(branch, 25);
    const long refused = static_cast<long>(testsupport::countRows(branch, "DOCUREC", "CODEMPRESA = '02'"));
    ASSERT_GT(refused, 0);
    for (const bool commitPerJob : {false, true}) {
        const std::string central = folder.file(commitPerJob ? "central-l1.fdb" : "central.fdb");
        bench::createCentral(central, false);
        testsupport::execute(central, "ALTER TABLE DOCUREC ADD CONSTRAINT NO_02 CHECK (CODEMPRESA <> '02')");
        const bench::LimitTally tally = bench::runLimit(branch, central, bench::kCompanyCodes, commitPerJob);
        EXPECT_EQ(tally.failed, refused);
        EXPECT_EQ(tally.written, counts.rows() - refused);
        EXPECT_EQ(testsupport::countRows(central, "DOCUREC"), counts.documents - refused);
        EXPECT_EQ(testsupport::countRows(central, "MOVIREC"), counts.movements);
    }
}

// --- the latency proxy -------------------------------------------------------

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

int loopbackSocket(int port, bool listening) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool ready = listening
                           ? bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && listen(fd, 16) == 0
                           : connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    if (!ready) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads exactly `length` bytes, or fewer when the peer closes.
std::string receive(int fd, std::size_t length) {
    std::string bytes;
    char buffer[16384];
    while (bytes.size() < length) {
        const ssize_t got = recv(fd, buffer, std::min(sizeof buffer, length - bytes.size()), 0);
        if (got <= 0) break;
        bytes.append(buffer, static_cast<std::size_t>(got));
    }
    return bytes;
}

// The proxy's target: sends every byte back on the connection it came
// from, closes when the other side does, and notes when each connection's
// first byte arrived.
class EchoServer {
public:
    EchoServer() : listenFd_(loopbackSocket(0, true)) {
        sockaddr_in address{};
        socklen_t length = sizeof address;
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        acceptor_ = std::thread([this] {
            for (int fd; (fd = accept(listenFd_, nullptr, nullptr)) >= 0;)
                echoes_.emplace_back([this, fd] { echo(fd); });
        });
    }
    ~EchoServer() {
        shutdown(listenFd_, SHUT_RDWR);
        acceptor_.join();
        for (std::thread& echo : echoes_) echo.join();
        close(listenFd_);
    }
    int port() const { return port_; }
    std::vector<Clock::time_point> firstArrivals() {
        std::lock_guard lock(mutex_);
        return firstArrivals_;
    }

private:
    void echo(int fd) {
        char buffer[16384];
        bool first = true;
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            if (first) {
                std::lock_guard lock(mutex_);
                firstArrivals_.push_back(Clock::now());
                first = false;
            }
            if (send(fd, buffer, static_cast<std::size_t>(got), MSG_NOSIGNAL) != got) break;
        }
        close(fd);
    }

    int listenFd_;
    int port_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> echoes_;
    std::mutex mutex_;
    std::vector<Clock::time_point> firstArrivals_;
};

// Each chunk reaches the server one delay after it was sent and comes back
// one more delay later, every byte in order, the large payload in many
// pieces; a chunk sent 40 ms after another is not held behind it for a
// whole delay; the client's close reaches the server, whose close comes back.
// The delay is long beside the 40 ms between the chunks, so a busy machine's
// scheduling cannot pass for a chunk held behind another.
TEST(LatencyProxy, DelaysEachDirectionAndKeepsTheBytesInOrder) {
    for (const milliseconds oneWay : {milliseconds(0), milliseconds(200)}) {
        SCOPED_TRACE(oneWay.count());
        EchoServer server;
        bench::LatencyProxy proxy("localhost", server.port(), oneWay);
        const int client = loopbackSocket(proxy.port(), false);
        ASSERT_GE(client, 0);

        std::string payload(1 << 20, '\0');
        for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>((i * 7 + i / 251) % 256);
        const Clock::time_point sent = Clock::now();
        ASSERT_EQ(send(client, "first", 5, 0), 5);
        std::this_thread::sleep_for(milliseconds(40));
        ASSERT_EQ(send(client, "second", 6, 0), 6);
        const std::string first = receive(client, 5);
        const Clock::time_point firstBack = Clock::now();
        const std::string second = receive(client, 6);
        const Clock::time_point secondBack = Clock::now();
        EXPECT_EQ(first + second, "firstsecond");
        ASSERT_EQ(server.firstArrivals().size(), 1u);
        EXPECT_GE(server.firstArrivals().front() - sent, oneWay);
        EXPECT_GE(firstBack - sent, 2 * oneWay);
        EXPECT_GE(secondBack - sent, 2 * oneWay + milliseconds(40));
        if (oneWay > milliseconds(0)) {
            EXPECT_LT(secondBack - firstBack, oneWay) << "the second chunk waited for the first one's delay";
        }

        auto echoed = std::async(std::launch::async, [&] { return receive(client, payload.size() + 1); });
        for (std::size_t at = 0; at < payload.size(); at += 100000)
            ASSERT_GT(send(client, payload.data() + at, std::min<std::size_t>(100000, payload.size() - at), 0), 0);
        shutdown(client, SHUT_WR);
        EXPECT_TRUE(echoed.get() == payload) << "the payload came back altered or incomplete";
        close(client);
    }
}

// Eight clients at once, each asking twice and waiting for each answer,
// with a 200 ms round trip: they finish in about two round trips, not
// sixteen, and the proxy counts the sixteen round trips they waited for.
TEST(LatencyProxy, ServesConnectionsAtOnceAndCountsTheirRoundTrips) {
    EchoServer server;
    const milliseconds oneWay(100);
    bench::LatencyProxy proxy("127.0.0.1", server.port(), oneWay);
    const Clock::time_point start = Clock::now();
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < 8; ++i)
        answers.push_back(std::async(std::launch::async, [&proxy, i] {
            const int client = loopbackSocket(proxy.port(), false);
            std::string answered;
            for (const std::string& message : {"client " + std::to_string(i), std::string(" again")}) {
                send(client, message.data(), message.size(), 0);
                answered += receive(client, message.size());
            }
            close(client);
            return answered;
        }));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(answers[static_cast<std::size_t>(i)].get(), "client " + std::to_string(i) + " again");
    const auto elapsed = Clock::now() - start;
    EXPECT_GE(elapsed, 2 * 2 * oneWay);
    EXPECT_LT(elapsed, 4 * 2 * oneWay);
    EXPECT_EQ(server.firstArrivals().size(), 8u);
    EXPECT_EQ(proxy.exchanges(), 16);
}

}  // namespace
