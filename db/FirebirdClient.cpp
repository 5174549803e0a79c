#include "db/FirebirdClient.h"

#include <algorithm>
#include <vector>

#include "db/Error.h"

namespace db::fb {

// The process's character-type locale is settled once, at start-up, by
// db::prepareClientEnvironment (db/ClientEnvironment.h), not here in the
// middle of whatever first reaches the client.
Firebird::IMaster* master() {
    static Firebird::IMaster* const instance = Firebird::fb_get_master_interface();
    return instance;
}

Firebird::IUtil* util() {
    static Firebird::IUtil* const instance = master()->getUtilInterface();
    return instance;
}

std::string formatStatus(Firebird::IStatus* status) {
    // formatStatus truncates silently; grow the buffer until the text fits.
    std::vector<char> buffer(1024);
    for (;;) {
        const unsigned written = util()->formatStatus(buffer.data(), static_cast<unsigned>(buffer.size()), status);
        if (written + 1 < buffer.size() || buffer.size() >= (1u << 20)) {
            std::string text(buffer.data(), written < buffer.size() ? written : buffer.size());
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
            return text;
        }
        buffer.resize(buffer.size() * 4);
    }
}

long errorCode(Firebird::IStatus* status) {
    const intptr_t* vector = status->getErrors();
    if (vector && vector[0] == isc_arg_gds) return static_cast<long>(vector[1]);
    return 0;
}

bool meansConnectionLost(Firebird::IStatus* status) {
    // The codes the client and the engine use for an attachment that can no
    // longer be used; the message text varies with the cause and language.
    static constexpr intptr_t kLost[] = {
        isc_network_error, isc_net_read_err, isc_net_write_err, isc_lost_db_connection, isc_att_shutdown,
        isc_shutdown,      isc_conn_lost,    isc_bad_db_handle, isc_net_connect_err,    isc_net_connect_listen_err,
    };
    const intptr_t* vector = status->getErrors();
    while (vector && *vector != isc_arg_end) {
        const intptr_t kind = vector[0];
        if (kind == isc_arg_gds) {
            for (intptr_t code : kLost)
                if (vector[1] == code) return true;
        }
        // Every argument takes one slot after its kind, except a counted string.
        vector += kind == isc_arg_cstring ? 3 : 2;
    }
    return false;
}

void rethrowAsError(const Firebird::FbException& failure) {
    Firebird::IStatus* status = failure.getStatus();
    throw Error(formatStatus(status), errorCode(status), meansConnectionLost(status));
}

ISC_QUAD writeBlob(Firebird::IAttachment* attachment, Firebird::ITransaction* transaction, std::string_view bytes) {
    // Segments of a size the engine takes in one call.
    constexpr unsigned kBlobSegment = 32 * 1024;
    ISC_QUAD id{};
    ThrowingStatus status;
    Firebird::IBlob* blob = attachment->createBlob(&status, transaction, &id, 0, nullptr);
    try {
        for (std::size_t done = 0; done < bytes.size(); done += kBlobSegment) {
            const auto length = static_cast<unsigned>(std::min<std::size_t>(kBlobSegment, bytes.size() - done));
            blob->putSegment(&status, length, bytes.data() + done);
        }
        blob->close(&status);  // releases the interface on success
    } catch (...) {
        QuietStatus quiet;
        blob->cancel(&quiet);
        if (quiet.failed()) blob->release();
        throw;
    }
    return id;
}

}  // namespace db::fb
