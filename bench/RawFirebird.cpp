#include "RawFirebird.h"

#include <stdexcept>

namespace bench {

using namespace Firebird;

IMaster* master() {
    static IMaster* const instance = fb_get_master_interface();
    return instance;
}

IProvider* provider() {
    static IProvider* const instance = master()->getDispatcher();
    return instance;
}

void fail(const FbException& failure, const std::string& context) {
    std::vector<char> buffer(8192);
    master()->getUtilInterface()->formatStatus(buffer.data(), static_cast<unsigned>(buffer.size()),
                                               failure.getStatus());
    throw std::runtime_error(context + ": " + buffer.data());
}

Attachment::Attachment(const std::string& path) {
    try {
        Status status;
        IXpbBuilder* dpb = master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::DPB, nullptr, 0);
        try {
            dpb->insertString(&status, isc_dpb_user_name, "SYSDBA");
            dpb->insertString(&status, isc_dpb_password, "plumtrove");
            dpb->insertInt(&status, isc_dpb_sql_dialect, 1);
            handle_ = provider()->attachDatabase(&status, path.c_str(), dpb->getBufferLength(&status),
                                                 dpb->getBuffer(&status));
        } catch (...) {
            dpb->dispose();
            throw;
        }
        dpb->dispose();
    } catch (const FbException& failure) {
        fail(failure, "attach " + path);
    }
}

Attachment::~Attachment() {
    CheckStatusWrapper status(master()->getStatus());
    handle_->detach(&status);
    if (status.getState() & IStatus::STATE_ERRORS)
        handle_->release();
    status.dispose();
}

const std::vector<unsigned char>& rowTransactionParameters() {
    static const std::vector<unsigned char> tpb = [] {
        Status status;
        IXpbBuilder* builder = master()->getUtilInterface()->getXpbBuilder(&status, IXpbBuilder::TPB, nullptr, 0);
        builder->insertTag(&status, isc_tpb_write);
        builder->insertTag(&status, isc_tpb_read_committed);
        builder->insertTag(&status, isc_tpb_rec_version);
        builder->insertTag(&status, isc_tpb_wait);
        builder->insertInt(&status, isc_tpb_lock_timeout, 60);
        const unsigned char* bytes = builder->getBuffer(&status);
        std::vector<unsigned char> result(bytes, bytes + builder->getBufferLength(&status));
        builder->dispose();
        return result;
    }();
    return tpb;
}

ITransaction* startTransaction(IAttachment* attachment) {
    const std::vector<unsigned char>& tpb = rowTransactionParameters();
    Status status;
    return attachment->startTransaction(&status, static_cast<unsigned>(tpb.size()), tpb.data());
}

void rollbackQuietly(ITransaction* transaction) {
    if (!transaction)
        return;
    CheckStatusWrapper status(master()->getStatus());
    transaction->rollback(&status);
    if (status.getState() & IStatus::STATE_ERRORS)
        transaction->release();
    status.dispose();
}

}  // namespace bench
