#pragma once

namespace Firebird {
class ITransaction;
}

namespace db {

class Connection;

// A transaction that lasts one statement: rolled back on destruction unless
// committed. Internal to db/.
class Transaction {
public:
    // Who commits: the caller, with commit(); or the server itself, as each
    // statement that changed something ends (a failed one is undone alone),
    // which spares a remote caller two round trips a statement.
    enum class Commits { OnRequest, EachStatement };
    // Whether it may write: as the connection says, or only read.
    enum class Access { AsConnection, ReadOnly };
    explicit Transaction(const Connection& connection, Commits commits = Commits::OnRequest,
                         Access access = Access::AsConnection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    Firebird::ITransaction* handle() const { return transaction_; }
    void commit();
    void rollback();
    bool isActive() const { return transaction_ != nullptr; }

private:
    const Connection& connection_;
    Firebird::ITransaction* transaction_;
};

}  // namespace db
