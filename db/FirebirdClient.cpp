#include "db/FirebirdClient.h"

#include "db/Error.h"

#include <vector>

namespace db::fb {

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
            while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
                text.pop_back();
            return text;
        }
        buffer.resize(buffer.size() * 4);
    }
}

long errorCode(Firebird::IStatus* status) {
    const intptr_t* vector = status->getErrors();
    if (vector && vector[0] == isc_arg_gds)
        return static_cast<long>(vector[1]);
    return 0;
}

void rethrowAsError(const Firebird::FbException& failure) {
    Firebird::IStatus* status = failure.getStatus();
    throw Error(formatStatus(status), errorCode(status));
}

}  // namespace db::fb
