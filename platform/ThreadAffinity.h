// The thread an object belongs to, taken when the object is made. For classes that are not
// bound to an event loop and still have calls that only their owner's thread may make (the
// main thread, in this program): those calls check it first, as loop-bound classes call
// EventLoop::assertMainThread.
#pragma once

#include <thread>

namespace tc::platform {

// Ends the program with a message naming `where` unless `onRightThread`, in builds with
// thread checks (TOUCHCAL_THREAD_CHECKS); does nothing otherwise. The one check behind
// EventLoop::assertMainThread and ThreadAffinity::assertOwnerThread.
void assertThread(bool onRightThread, const char* where);

class ThreadAffinity {
public:
    ThreadAffinity() noexcept : owner_(std::this_thread::get_id()) {}

    bool onOwnerThread() const noexcept { return std::this_thread::get_id() == owner_; }
    // Ends the program with a message naming `where` when called from another thread, in
    // builds with thread checks (TOUCHCAL_THREAD_CHECKS); does nothing otherwise.
    void assertOwnerThread(const char* where) const { assertThread(onOwnerThread(), where); }
    // Whether this build checks (tests of the checks skip themselves otherwise).
    static bool checksEnabled() noexcept;

private:
    std::thread::id owner_;
};

}  // namespace tc::platform
