#include "db/LocalFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "db/Error.h"
#include "db/FirebirdClient.h"

namespace db {

bool isLocalPath(const std::string& database) {
    // The client reads everything before the first ':' as a host name.
    return !database.empty() && database.find(':') == std::string::npos;
}

void checkResolvable(const std::string& database) {
    if (!isLocalPath(database)) return;
    char resolved[PATH_MAX];
    if (::realpath(database.c_str(), resolved)) return;
    const int reason = errno;
    if (reason == ENOENT || reason == ENOTDIR || reason == EACCES) return;
    throw Error("I/O error for file \"" + database + "\": " + std::strerror(reason), isc_io_error);
}

bool sameLocalFile(const std::string& first, const std::string& second) {
    if (!isLocalPath(first) || !isLocalPath(second)) return false;
    struct stat a {
    }, b{};
    if (::stat(first.c_str(), &a) != 0 || ::stat(second.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace db
