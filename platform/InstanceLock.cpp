#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Error.h"

namespace tc::platform {

InstanceLock::InstanceLock(const std::string& name, std::filesystem::path folder) {
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "/tmp";
    }
    path_ = folder / (name + ".lock");
    UniqueFd fd(::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    auto unavailable = [this](int err) {
        error_ = err;
        failure_ = errnoText(err);
    };
    if (!fd) {
        // A file we may not open (another user's, a folder in its place) says nothing about
        // a running copy; only a lock that someone holds does.
        unavailable(errno);
        return;
    }
    int rc;
    do {
        rc = ::flock(fd.get(), LOCK_EX | LOCK_NB);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        if (errno == EWOULDBLOCK) {
            state_ = State::HeldByAnotherCopy;
        } else {
            unavailable(errno);
        }
        return;
    }
    fd_ = std::move(fd);
    state_ = State::Owned;
}

}  // namespace tc::platform
