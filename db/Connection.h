#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "db/ConnectionParameters.h"

namespace Firebird {
class IAttachment;
class ITransaction;
}  // namespace Firebird

namespace db {

class CallWatch;
class Transaction;

// One Firebird connection with the fixed settings of ConnectionParameters.
// The Database value is the file path; a path without a server prefix is
// opened by the embedded engine when no server holds the file.
class Connection {
public:
    Connection();
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    ConnectionParameters& parameters() { return parameters_; }
    const ConnectionParameters& parameters() const { return parameters_; }

    // Attaches to the Database of the parameter list. Does nothing when the
    // connection is attached already.
    void open();
    void close();
    // Lets go of the attachment whatever state it is in: detached when it
    // can be, released when it is dead. Never throws.
    void drop() noexcept;
    bool isAttached() const { return attachment_ != nullptr; }

    // The Database value the current attachment was made with.
    const std::string& attachedDatabase() const { return attachedDatabase_; }

    // How long a statement waits for a row locked by another transaction
    // before it fails with the server's lock time-out.
    void setLockTimeoutSeconds(int seconds) {
        lockTimeoutSeconds_ = seconds;
        forgetTransactionParameters();
    }
    int lockTimeoutSeconds() const { return lockTimeoutSeconds_; }

    // Every transaction of this connection only reads (for checks that
    // must not change a database).
    void setReadOnly(bool readOnly) {
        readOnly_ = readOnly;
        forgetTransactionParameters();
    }

    // How long an attach waits for a server's first answer (the attach's
    // connect timeout); 0 leaves the client library's own wait, 180 s.
    void setConnectTimeoutSeconds(int seconds) { connectTimeoutSeconds_ = seconds; }
    int connectTimeoutSeconds() const { return connectTimeoutSeconds_; }

    // How long one call may wait on a server that does not answer before
    // the attachment is given up as lost. Longer than the lock wait, so
    // that only a server that is gone or stopped reaches it; 0: no bound.
    void setStallTimeoutSeconds(int seconds) { stallTimeoutSeconds_ = seconds; }
    int stallTimeoutSeconds() const { return stallTimeoutSeconds_; }
    static constexpr int kDefaultStallTimeoutSeconds = 120;

    // A termination signal (TerminationSignal) breaks off an attach in
    // progress, and a call still waiting on a server some seconds later,
    // instead of letting them run to their end.
    void setStopOnTermination(bool stop) { stopOnTermination_ = stop; }

    // Asks the server to compress the wire (both ends must have zlib; the
    // server decides). Fewer packets for the same rows over a slow link;
    // an embedded attachment has no wire and ignores it. Takes effect at
    // the next attach.
    void setWireCompression(bool compress) { wireCompression_ = compress; }
    bool wireCompression() const { return wireCompression_; }

    // Selects on this connection read in one transaction, started at the
    // first and ended when the attachment goes or sharing ends, instead of
    // one each: over a slow link that spares each select the start and
    // commit of its own. Read committed, it sees what a transaction per
    // select would see. Ending the sharing ends that transaction.
    void setSharedReads(bool share);
    // For Query: the shared transaction, started now when there is none;
    // null when selects do not share one.
    Transaction* sharedReadTransaction();

    // What the server says about the attached database, read once per
    // attachment: one file reached through two strings has one identity.
    struct Identity {
        std::string fileName;
        std::string created;
        bool operator==(const Identity&) const = default;
    };
    const Identity& identity();

    // For the statement classes of db/: marks a call into the client
    // library on this connection, so that a call that waits too long on
    // its server can be broken off.
    class Call {
    public:
        explicit Call(const Connection& connection);
        ~Call();
        Call(const Call&) = delete;
        Call& operator=(const Call&) = delete;

    private:
        CallWatch* watch_;
    };

    unsigned dialect() const;

    // Counts attachments, so statements can tell that the one they were
    // prepared on is gone.
    std::uint64_t attachmentSerial() const { return attachmentSerial_; }

    // For the statement classes of db/: the live attachment (throws when
    // detached) and a new read-committed, waiting transaction on it; with
    // `serverCommits`, one the server commits after each statement.
    Firebird::IAttachment* attachment() const;
    Firebird::ITransaction* startTransaction(bool serverCommits = false, bool readOnly = false) const;

private:
    ConnectionParameters parameters_;
    Firebird::IAttachment* attachment_ = nullptr;
    std::string attachedDatabase_;
    int lockTimeoutSeconds_ = 60;
    int connectTimeoutSeconds_ = 0;
    int stallTimeoutSeconds_ = kDefaultStallTimeoutSeconds;
    bool stopOnTermination_ = false;
    bool wireCompression_ = false;
    std::unique_ptr<CallWatch> watch_;  // made at the first attach
    Identity identity_;
    std::uint64_t identitySerial_ = 0;
    bool readOnly_ = false;
    // Built once: every statement starts a transaction with the same settings.
    // Built once each: [server commits][read only].
    mutable std::vector<unsigned char> transactionParameters_[2][2];
    void forgetTransactionParameters() {
        for (auto& byAccess : transactionParameters_)
            for (std::vector<unsigned char>& parameters : byAccess) parameters.clear();
    }
    std::uint64_t attachmentSerial_ = 0;
    bool sharedReads_ = false;
    std::unique_ptr<Transaction> sharedRead_;  // on the current attachment

    void endSharedRead() noexcept;
};

}  // namespace db
