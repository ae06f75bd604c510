#include "platform/InstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>

namespace tc::platform {

InstanceLock::InstanceLock(const std::string& name, std::filesystem::path folder) {
    if (folder.empty()) {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        folder = runtime && *runtime && ::access(runtime, W_OK) == 0 ? runtime : "/tmp";
    }
    path_ = folder / (name + ".lock");
    const int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return;
    }
    fd_ = fd;
}

InstanceLock::~InstanceLock() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace tc::platform
