// The virtual label printer behind the serial port's calls, in-process and on the event
// loop's clock: what the label job writes reaches the printer at once, and an answer
// can be read once the loop's clock has passed its delay. A label job on virtual time
// runs against it deterministically, without threads or a pseudo-terminal.
#pragma once

#include <chrono>
#include <deque>
#include <string>

#include "platform/EventLoop.h"
#include "platform/serial/CommPort.h"
#include "sim/printer/PrinterBehaviour.h"

namespace tc::sim {

class VirtualPrinterPort final : public tc::platform::CommPort {
public:
    // The receive side holds at most this much, like the serial port's ring.
    static constexpr std::size_t kReceiveCapacity = 8191;

    explicit VirtualPrinterPort(tc::platform::EventLoop& loop) : loop_(loop) {}

    // Switches and the commands received.
    PrinterBehaviour& Printer() { return behaviour_; }
    bool connected() const { return connected_; }

    std::size_t Write(const void* data, std::size_t count) override;
    std::size_t Read(void* buffer, std::size_t count) override;
    void PurgeRead(bool abort) override;
    void PurgeWrite(bool abort) override;

private:
    struct Later {
        std::chrono::milliseconds due;
        std::string bytes;
        bool disconnect;
    };
    void arrive();

    tc::platform::EventLoop& loop_;
    PrinterBehaviour behaviour_;
    std::deque<Later> later_;
    std::string received_;
    bool connected_ = true;
};

}  // namespace tc::sim
