// One running copy per user session: an exclusive lock on a file, held for the life of
// the process. The kernel drops it when the process ends, however it ends, so a copy that
// was killed never blocks the next start.
#pragma once

#include <filesystem>
#include <string>

namespace tc::platform {

class InstanceLock {
public:
    // Tries to take the lock named `name` in $XDG_RUNTIME_DIR (or /tmp, or `folder` when
    // given). owned() says whether it was had.
    explicit InstanceLock(const std::string& name, std::filesystem::path folder = {});
    ~InstanceLock();
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    bool owned() const { return fd_ >= 0; }
    const std::filesystem::path& path() const { return path_; }

private:
    int fd_ = -1;
    std::filesystem::path path_;
};

}  // namespace tc::platform
