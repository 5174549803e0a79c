#include "batch/ReportFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace batch {

namespace {

std::string folderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a symbolic link points to; the path itself for anything else,
// a link that points nowhere included.
std::string followed(const std::string& path) {
    struct stat link {};
    char resolved[PATH_MAX];
    if (::lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) && ::realpath(path.c_str(), resolved))
        return resolved;
    return path;
}

std::string reasonOf(int error) { return std::strerror(error ? error : EIO); }

}  // namespace

ReportFile::ReportFile(const std::string& path, std::string kind) : target_(followed(path)), kind_(std::move(kind)) {
    const std::string folder = folderOf(target_);
    const std::string name = target_.substr(target_.rfind('/') == std::string::npos ? 0 : target_.rfind('/') + 1);
    std::string pattern = folder + "/." + name + ".XXXXXX";
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0)
        throw ReportFileError("cannot write the " + kind_ + " \"" + path + "\" in \"" + folder +
                              "\": " + reasonOf(errno));
    temporary_ = pattern;
    // The permissions a new file gets here, not mkstemp's owner-only ones.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
    stream_.open(temporary_, std::ios::out | std::ios::trunc);
    if (!stream_) {
        const int error = errno;
        ::close(fd_);
        ::unlink(temporary_.c_str());
        throw ReportFileError("cannot write the " + kind_ + " \"" + path + "\": " + reasonOf(error));
    }
}

ReportFile::~ReportFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!renamed_) ::unlink(temporary_.c_str());
}

void ReportFile::commit() {
    const auto refuse = [&](const char* step, int error) {
        return ReportFileError("the " + kind_ + " \"" + target_ + "\" was not written (" + step +
                               "): " + reasonOf(error));
    };
    errno = 0;
    stream_.flush();
    if (!stream_) throw refuse("write", errno);
    stream_.close();
    if (!stream_) throw refuse("write", errno);
    // The data is on disk before the name points to it.
    if (::fsync(fd_) != 0) throw refuse("sync", errno);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) throw refuse("rename", errno);
    renamed_ = true;
    // The new name itself survives a crash once the folder is synced.
    const int folder = ::open(folderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
}

}  // namespace batch
