#include "db/FirebirdClient.h"

#include <langinfo.h>

#include <clocale>
#include <cstring>
#include <vector>

#include "db/Error.h"

namespace db::fb {

namespace {

// The client hands a database path to the engine through the process's
// character-type locale. Under the C locale (ASCII) a path with non-ASCII
// letters is refused, so text handling is switched to UTF-8, the encoding
// of file names here, unless the locale is UTF-8 already.
void useUtf8CharacterTypes() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_CTYPE, "C.UTF-8");
}

}  // namespace

Firebird::IMaster* master() {
    static Firebird::IMaster* const instance = [] {
        useUtf8CharacterTypes();
        return Firebird::fb_get_master_interface();
    }();
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

}  // namespace db::fb
