#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tc::platform {

InstanceLock::InstanceLock(const std::string& name, std::filesystem::path folder) {
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "/tmp";
    }
    path_ = folder / (name + ".lock");
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        // A file we may not open (another user's, a folder in its place) says nothing about
        // a running copy; only a lock that someone holds does.
        failure_ = std::strerror(errno);
        return;
    }
    int rc;
    do {
        rc = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        const int err = errno;
        ::close(fd);
        if (err == EWOULDBLOCK) {
            state_ = State::HeldByAnotherCopy;
        } else {
            failure_ = std::strerror(err);
        }
        return;
    }
    fd_ = fd;
    state_ = State::Owned;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tc::platform
