#include "platform/ThreadAffinity.h"

#include <cstdio>
#include <cstdlib>

namespace tc::platform {

// Compiled here, in the platform library, so the check follows the build's thread-checks
// option whichever library the caller sits in.
void assertThread(bool onRightThread, const char* where) {
#ifdef TOUCHCAL_THREAD_CHECKS
    if (!onRightThread) {
        std::fprintf(stderr, "touchcal: %s called off the main thread\n", where);
        std::abort();
    }
#else
    (void)onRightThread;
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
