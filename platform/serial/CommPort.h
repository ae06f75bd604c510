// The byte pipe the label printer job talks through: writes are queued, reads take what
// has arrived, neither ever waits. The serial port component is one; a test can put an
// in-process printer behind the same calls.
#pragma once

#include <cstddef>

namespace tc::platform {

class CommPort {
public:
    virtual ~CommPort() = default;
    // Queues up to `count` bytes; returns how many were taken.
    virtual std::size_t Write(const void* data, std::size_t count) = 0;
    // Copies up to `count` bytes that have arrived; 0 when none have.
    virtual std::size_t Read(void* buffer, std::size_t count) = 0;
    // Forgets what has arrived and not been read (`abort`: also the piece on its way in).
    virtual void PurgeRead(bool abort) = 0;
    // Forgets what is queued and not sent yet (`abort`: also the piece being sent).
    virtual void PurgeWrite(bool abort) = 0;
};

}  // namespace tc::platform
