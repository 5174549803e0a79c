#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/Connection.h"
#include "db/ConnectionParameters.h"

namespace {

const std::vector<std::string> kInitialLines = {"DriverName=Firebird",
                                                "Database=database.fdb",
                                                "RoleName=RoleName",
                                                "User_Name=sysdba",
                                                "Password=plumtrove",
                                                "ServerCharSet=",
                                                "SQLDialect=1",
                                                "ErrorResourceFile=",
                                                "LocaleCode=0000",
                                                "BlobSize=-1",
                                                "CommitRetain=False",
                                                "WaitOnLocks=True",
                                                "IsolationLevel=ReadCommitted",
                                                "Trim Char=False"};

TEST(ConnectionParameters, StartsWithTheFourteenFixedLinesInOrder) {
    EXPECT_EQ(db::ConnectionParameters().lines(), kInitialLines);
    // Both connections of the window carry the same list.
    EXPECT_EQ(db::Connection().parameters().lines(), kInitialLines);
}

TEST(ConnectionParameters, DatabaseIsReplacedInPlaceWhateverTheCaseOfTheKey) {
    db::ConnectionParameters parameters;
    parameters.setValue("database", "/dados/filial 01/LOJA.FB");
    std::vector<std::string> expected = kInitialLines;
    expected[1] = "Database=/dados/filial 01/LOJA.FB";
    EXPECT_EQ(parameters.lines(), expected);

    parameters.setValue("DATABASE", "C:\\Dados\\CENTRAL.FB");
    expected[1] = "Database=C:\\Dados\\CENTRAL.FB";
    EXPECT_EQ(parameters.lines(), expected);
    EXPECT_EQ(parameters.lines().size(), 14u);
}

TEST(ConnectionParameters, LookupIgnoresCase) {
    db::ConnectionParameters parameters;
    EXPECT_EQ(parameters.value("user_name"), "sysdba");
    EXPECT_EQ(parameters.value("PASSWORD"), "plumtrove");
    EXPECT_EQ(parameters.value("trim char"), "False");
    EXPECT_EQ(parameters.value("ServerCharSet"), "");
    EXPECT_EQ(parameters.value("NoSuchKey"), "");
}

TEST(ConnectionParameters, ValueMayHoldEqualsSignsAndBlanks) {
    db::ConnectionParameters parameters;
    parameters.setValue("Database", "/tmp/a=b/c d.fb");
    EXPECT_EQ(parameters.value("database"), "/tmp/a=b/c d.fb");
    EXPECT_EQ(parameters.lines()[1], "Database=/tmp/a=b/c d.fb");
}

TEST(ConnectionParameters, DialectComesFromTheList) {
    db::Connection connection;
    EXPECT_EQ(connection.dialect(), 1u);
    EXPECT_FALSE(connection.isAttached());
}

}  // namespace
