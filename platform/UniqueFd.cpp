#include "platform/UniqueFd.h"

#include <unistd.h>

namespace tc::platform {

void UniqueFd::reset(int fd) noexcept {
    if (fd_ >= 0 && fd_ != fd) {
        // Linux frees the descriptor even when close reports EINTR, so it is never retried.
        ::close(fd_);
    }
    fd_ = fd;
}

}  // namespace tc::platform
