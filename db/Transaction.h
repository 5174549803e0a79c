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
    explicit Transaction(const Connection& connection);
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
