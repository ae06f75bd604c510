#include "platform/ThreadAffinity.h"

#include <cstdio>
#include <cstdlib>

namespace tc::platform {

// Compiled here, in the platform library, so the check follows the build's thread-checks
// option whichever library the caller sits in.
void ThreadAffinity::assertOwnerThread(const char* where) const {
#ifdef TOUCHCAL_THREAD_CHECKS
    if (!onOwnerThread()) {
        std::fprintf(stderr, "touchcal: %s called off the main thread\n", where);
        std::abort();
    }
#else
    (void)where;
#endif
}

bool ThreadAffinity::checksEnabled() noexcept {
#ifdef TOUCHCAL_THREAD_CHECKS
    return true;
#else
    return false;
#endif
}

}  // namespace tc::platform
