#pragma once

// What the transfer tests share: a recorder standing in for the window, and
// a fixture with a branch and a central database and the two connections.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "TestDatabases.h"
#include "db/Connection.h"
#include "db/Error.h"
#include "transfer/ProgressView.h"
#include "transfer/TableJob.h"

namespace enginetest {

// Records what the engine shows. The gauge behaves like the window's: its
// position never passes its maximum.
class Recorder : public transfer::ProgressView, public transfer::UserMessages {
public:
    void setProgressText(const std::string& text) override {
        label = text;
        labels.push_back(text);
        events.push_back("label:" + text);
    }
    void setGaugeMaximum(int maximum) override {
        gaugeMaximum = maximum;
        events.push_back("max:" + std::to_string(maximum));
    }
    void stepGauge() override {
        ++steps;
        gaugePosition = std::min(gaugePosition + 1, gaugeMaximum);
        highestPosition = std::max(highestPosition, gaugePosition);
    }
    void resetGauge() override {
        gaugePosition = 0;
        events.push_back("reset");
    }
    void processEvents() override {
        ++processed;
        if (onProcessEvents) onProcessEvents(processed);
    }
    void appendLog(const std::string& line) override {
        log.push_back(line);
        events.push_back("log:" + line);
    }
    bool stopRequested() const override { return stop && stop(); }
    void information(const std::string& text) override { informations.push_back(text); }
    void warning(const std::string& text) override { warnings.push_back(text); }
    void error(const std::string& text) override { errors.push_back(text); }

    // The labels that named a row, in order.
    std::vector<std::string> rowLabels() const {
        std::vector<std::string> rows;
        for (const std::string& text : labels)
            if (text.rfind("Integrando ", 0) == 0) rows.push_back(text);
        return rows;
    }

    std::string label;
    std::vector<std::string> labels;
    std::vector<std::string> events;
    std::vector<std::string> log;
    std::vector<std::string> informations, warnings, errors;
    int gaugeMaximum = 0;
    int gaugePosition = 0;
    int highestPosition = 0;
    int steps = 0;
    int processed = 0;
    std::function<void(int)> onProcessEvents;
    std::function<bool()> stop;  // the window is being closed
};

// The message a db::Connection gives when it cannot open `path`.
inline std::string openFailureOf(const std::string& path) {
    db::Connection connection;
    connection.parameters().setValue("Database", path);
    try {
        connection.open();
    } catch (const db::Error& error) {
        return error.what();
    }
    ADD_FAILURE() << path << " opened";
    return {};
}

// The column definitions ("NAME TYPE ...") of `table` in a schema script,
// by column name, to build variants of a table.
inline std::map<std::string, std::string> columnDefinitions(const std::string& schema, const std::string& table) {
    const auto begin = schema.find("CREATE TABLE " + table + " (");
    std::istringstream lines(schema.substr(begin, schema.find(");", begin) - begin));
    std::map<std::string, std::string> definitions;
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
        line.erase(0, line.find_first_not_of(' '));
        while (!line.empty() && (line.back() == ',' || line.back() == ' ')) line.pop_back();
        if (line.empty() || line.rfind("CONSTRAINT", 0) == 0) continue;
        definitions[line.substr(0, line.find(' '))] = line;
    }
    return definitions;
}

class TransferTest : public ::testing::Test {
protected:
    testsupport::TempDir dir;
    std::string branchPath = dir.file("filial.fb");
    std::string centralPath = dir.file("central.fb");
    db::Connection central;
    db::Connection branch;
    Recorder view;

    void SetUp() override {
        testsupport::createBranchDatabase(branchPath);
        testsupport::createCentralDatabase(centralPath);
        central.parameters().setValue("Database", centralPath);
        central.open();
    }

    transfer::Connections connections() { return {central, branch}; }
    transfer::JobResult copyDocuments(const std::string& empresa = "01") {
        return transfer::ConverteDocuRec(connections(), branchPath, empresa, view, view);
    }
    transfer::JobResult copyMovements(const std::string& empresa = "01") {
        return transfer::ConverteMoviRec(connections(), branchPath, empresa, view, view);
    }

    // The copied columns of one table as rows of text, ordered by key.
    testsupport::Rows centralRows(const std::string& table, const std::vector<std::string>& columns,
                                  const std::string& where = {}) {
        return rowsOf(centralPath, table, columns, where);
    }
    static testsupport::Rows rowsOf(const std::string& path, const std::string& table,
                                    const std::vector<std::string>& columns, const std::string& where = {}) {
        std::string list;
        for (const std::string& column : columns) list += (list.empty() ? "" : ", ") + column;
        return testsupport::selectAsText(
            path, "SELECT " + list + " FROM " + table + (where.empty() ? "" : " WHERE " + where) +
                      " ORDER BY CODEMPRESA, TIPODOCTO, CODDOCTO" + (table == "MOVIREC" ? ", NUMORD" : ""));
    }
};

}  // namespace enginetest
