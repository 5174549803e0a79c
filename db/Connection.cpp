#include "db/Connection.h"

#include <charconv>
#include <chrono>

#include "db/CallWatch.h"
#include "db/ClientEnvironment.h"
#include "db/Error.h"
#include "db/FirebirdClient.h"
#include "db/LocalFile.h"
#include "db/Query.h"
#include "db/Transaction.h"

namespace db {

using namespace Firebird;

namespace {

// The fixed attach settings have no provider handle of their own; one
// dispatcher serves every connection.
IProvider* provider() {
    static IProvider* const instance = fb::master()->getDispatcher();
    return instance;
}

class XpbBuilder {
public:
    XpbBuilder(unsigned kind, ThrowStatusWrapper* status)
        : builder_(fb::util()->getXpbBuilder(status, kind, nullptr, 0)) {}
    ~XpbBuilder() { builder_->dispose(); }
    XpbBuilder(const XpbBuilder&) = delete;
    XpbBuilder& operator=(const XpbBuilder&) = delete;
    IXpbBuilder* operator->() const { return builder_; }

private:
    IXpbBuilder* builder_;
};

// The message of an attach that got no answer in time, or was broken off.
std::string unansweredAttach(const std::string& database, CallWatch::Reason reason, int seconds) {
    if (reason == CallWatch::Reason::Stopped)
        return "The attach to \"" + database + "\" was broken off: the program was asked to stop";
    return "No answer from the server of \"" + database + "\" within " + std::to_string(seconds) + " s";
}

}  // namespace

Connection::Connection() = default;

Connection::Call::Call(const Connection& connection) : watch_(connection.watch_.get()) {
    if (watch_) watch_->callStarting();
}

Connection::Call::~Call() {
    if (watch_) watch_->callEnded();
}

Connection::~Connection() { drop(); }

unsigned Connection::dialect() const {
    const std::string text = parameters_.value("SQLDialect");
    unsigned value = 1;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value == 0 ? 1 : value;
}

void Connection::open() {
    if (attachment_) return;
    const std::string database = parameters_.value("Database");
    checkResolvable(database);
    if (!watch_) watch_ = std::make_unique<CallWatch>();
    CallWatch::Attach attach(*watch_, stallTimeoutSeconds_, stopOnTermination_);
    const auto started = std::chrono::steady_clock::now();
    try {
        fb::ThrowingStatus status;
        XpbBuilder dpb(IXpbBuilder::DPB, &status);
        dpb->insertString(&status, isc_dpb_user_name, parameters_.value("User_Name").c_str());
        dpb->insertString(&status, isc_dpb_password, parameters_.value("Password").c_str());
        const std::string role = parameters_.value("RoleName");
        if (!role.empty()) dpb->insertString(&status, isc_dpb_sql_role_name, role.c_str());
        dpb->insertInt(&status, isc_dpb_sql_dialect, static_cast<int>(dialect()));
        if (connectTimeoutSeconds_ > 0) dpb->insertInt(&status, isc_dpb_connect_timeout, connectTimeoutSeconds_);
        // Per attachment, as firebird.conf's own line would say it for
        // every program on the machine.
        if (wireCompression_) dpb->insertString(&status, isc_dpb_config, "WireCompression=true");
        // The path goes to the engine as the bytes the file system holds
        // (UTF-8 on this platform). Declaring it UTF-8 would make the engine
        // recode it to the locale's character set, which fails for
        // non-ASCII names under the C locale.
        // No isc_dpb_lc_ctype: text travels as the column's own bytes.
        attachment_ = provider()->attachDatabase(&status, database.c_str(), dpb->getBufferLength(&status),
                                                 dpb->getBuffer(&status));
    } catch (const FbException& failure) {
        attach.ended();
        IStatus* status = failure.getStatus();
        const long code = fb::errorCode(status);
        // A server that accepted the connection and then said nothing: the
        // wait ran out, or was broken off. Either way it did not answer.
        const CallWatch::Reason reason = watch_->brokenOff();
        const double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const bool ranOut = connectTimeoutSeconds_ > 0 && waited >= connectTimeoutSeconds_ - 0.5 &&
                            (code == isc_connect_reject || fb::meansConnectionLost(status));
        if (reason != CallWatch::Reason::None || ranOut)
            throw Error(
                unansweredAttach(database, reason,
                                 reason == CallWatch::Reason::Stalled ? stallTimeoutSeconds_ : connectTimeoutSeconds_) +
                    " (" + fb::formatStatus(status) + ")",
                code, true);
        // A lock folder this user cannot use and that had to stay as it is
        // (other processes share files through it): say what to do.
        const std::string advice = lockFolderAdvice(code);
        throw Error(fb::formatStatus(status) + (advice.empty() ? "" : "\n" + advice), code,
                    fb::meansConnectionLost(status));
    }
    attach.succeeded();
    attachedDatabase_ = database;
    ++attachmentSerial_;
}

void Connection::setSharedReads(bool share) {
    sharedReads_ = share;
    if (!share) endSharedRead();
}

Transaction* Connection::sharedReadTransaction() {
    if (!sharedReads_) return nullptr;
    // Read only: a read-committed transaction that writes nothing does not
    // hold back the branch's garbage collection while a long run lasts.
    if (!sharedRead_)
        sharedRead_ =
            std::make_unique<Transaction>(*this, Transaction::Commits::OnRequest, Transaction::Access::ReadOnly);
    return sharedRead_.get();
}

// It only read: a commit that fails (the attachment is gone) loses nothing,
// and the handle is let go either way.
void Connection::endSharedRead() noexcept {
    if (!sharedRead_) return;
    try {
        sharedRead_->commit();
    } catch (const std::exception&) {
    }
    sharedRead_.reset();
}

void Connection::close() {
    if (!attachment_) return;
    endSharedRead();
    try {
        Call call(*this);
        fb::ThrowingStatus status;
        attachment_->detach(&status);  // releases the interface on success
    } catch (const FbException& failure) {
        // A connection the server already dropped cannot be detached; it is
        // gone all the same.
        attachment_->release();
        attachment_ = nullptr;
        attachedDatabase_.clear();
        watch_->detached();
        fb::rethrowAsError(failure);
    }
    attachment_ = nullptr;
    attachedDatabase_.clear();
    watch_->detached();
}

void Connection::drop() noexcept {
    endSharedRead();
    if (!attachment_) return;
    {
        Call call(*this);
        fb::QuietStatus status;
        attachment_->detach(&status);  // releases the interface on success
        if (status.failed()) attachment_->release();
    }
    attachment_ = nullptr;
    attachedDatabase_.clear();
    watch_->detached();
}

const Connection::Identity& Connection::identity() {
    if (identitySerial_ != attachmentSerial_ || !isAttached()) {
        Query query(*this);
        query.addSql("SELECT MON$DATABASE_NAME, MON$CREATION_DATE FROM MON$DATABASE");
        query.open();
        identity_ = {query.asText(0), query.asText(1)};
        identitySerial_ = attachmentSerial_;
    }
    return identity_;
}

IAttachment* Connection::attachment() const {
    if (!attachment_) throw Error("Connection is not open");
    return attachment_;
}

ITransaction* Connection::startTransaction(bool serverCommits, bool readOnly) const {
    IAttachment* live = attachment();
    Call call(*this);
    try {
        fb::ThrowingStatus status;
        readOnly = readOnly || readOnly_;
        std::vector<unsigned char>& parameters = transactionParameters_[serverCommits][readOnly];
        if (parameters.empty()) {
            XpbBuilder tpb(IXpbBuilder::TPB, &status);
            tpb->insertTag(&status, readOnly ? isc_tpb_read : isc_tpb_write);
            tpb->insertTag(&status, isc_tpb_read_committed);
            tpb->insertTag(&status, isc_tpb_rec_version);
            tpb->insertTag(&status, isc_tpb_wait);
            if (lockTimeoutSeconds_ > 0) tpb->insertInt(&status, isc_tpb_lock_timeout, lockTimeoutSeconds_);
            if (serverCommits) tpb->insertTag(&status, isc_tpb_autocommit);
            const unsigned char* bytes = tpb->getBuffer(&status);
            parameters.assign(bytes, bytes + tpb->getBufferLength(&status));
        }
        return live->startTransaction(&status, static_cast<unsigned>(parameters.size()), parameters.data());
    } catch (const FbException& failure) {
        fb::rethrowAsError(failure);
    }
}

}  // namespace db
