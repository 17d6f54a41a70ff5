#include "adapters/cable_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

struct flock Whole_File(short type) {
    struct flock fl = {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;  // start 0, length 0: the whole file
    return fl;
}

}  // namespace

int CCableLock::Take(const std::string& path) {
    if (fd_ >= 0 && path == path_) return 1;
    Release();
    if (path.empty()) return 1;
    const int fd = open(path.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return 1;
    struct flock fl = Whole_File(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &fl) == 0) {
        fd_ = fd;
        path_ = path;
        return 1;
    }
    const int err = errno;
    close(fd);
    return err == EAGAIN || err == EACCES ? 0 : 1;
}

void CCableLock::Release() {
    if (fd_ < 0) return;
    close(fd_);  // closing the description drops its lock
    fd_ = -1;
    path_.clear();
}

bool CCableLock::Held(const std::string& path) {
    if (path.empty()) return false;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct flock fl = Whole_File(F_WRLCK);
    const bool held = fcntl(fd, F_OFD_GETLK, &fl) == 0 && fl.l_type != F_UNLCK;
    close(fd);
    return held;
}
