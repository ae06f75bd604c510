// One running copy per user session: an exclusive lock on a file, held for the life of
// the process. The kernel drops it when the process ends, however it ends, so a copy that
// was killed never blocks the next start.
#pragma once

#include <filesystem>
#include <string>

#include "platform/UniqueFd.h"

namespace tc::platform {

class InstanceLock {
public:
    enum class State {
        Owned,              // this process holds the lock
        HeldByAnotherCopy,  // a live process holds it
        Unavailable,        // the lock file could not be opened or locked; see failure()
    };

    // Tries to take the lock named `name` in $XDG_RUNTIME_DIR (or /tmp, or `folder` when
    // given).
    explicit InstanceLock(const std::string& name, std::filesystem::path folder = {});
    InstanceLock(const InstanceLock&) = delete;
    InstanceLock& operator=(const InstanceLock&) = delete;

    State state() const { return state_; }
    bool owned() const { return state_ == State::Owned; }
    // Why the lock is unavailable (the system's wording), empty otherwise.
    const std::string& failure() const { return failure_; }
    // The errno behind failure(); 0 unless the lock is unavailable.
    int error() const { return error_; }
    const std::filesystem::path& path() const { return path_; }

private:
    UniqueFd fd_;  // held open while owned: closing it drops the lock
    State state_ = State::Unavailable;
    int error_ = 0;
    std::string failure_;
    std::filesystem::path path_;
};

}  // namespace tc::platform
