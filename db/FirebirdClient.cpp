#include "db/FirebirdClient.h"

#include "db/Error.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>
#include <vector>

namespace db::fb {

namespace {

// The client hands a database path to the engine through the process's
// character-type locale. Under the C locale (ASCII) a path with non-ASCII
// letters is refused, so text handling is switched to UTF-8, the encoding
// of file names here, unless the locale is UTF-8 already.
void useUtf8CharacterTypes() {
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
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
