#include "sim/printer/VirtualPrinterPort.h"

#include <algorithm>
#include <cstring>

namespace tc::sim {

std::size_t VirtualPrinterPort::Write(const void* data, std::size_t count) {
    if (!connected_) return count;  // nobody at the far end: the bytes go nowhere
    const auto now = loop_.monotonic();
    for (auto& reply : behaviour_.feed(std::string_view(static_cast<const char*>(data), count))) {
        const auto earliest = later_.empty() ? now : later_.back().due;
        later_.push_back(
            {std::max(now + reply.delay, earliest), std::move(reply.bytes), reply.disconnect});
    }
    return count;
}

void VirtualPrinterPort::arrive() {
    const auto now = loop_.monotonic();
    while (!later_.empty() && later_.front().due <= now) {
        const Later& l = later_.front();
        const std::size_t room = kReceiveCapacity - received_.size();
        received_.append(l.bytes, 0, std::min(room, l.bytes.size()));
        const bool gone = l.disconnect;
        later_.pop_front();
        if (gone) {
            connected_ = false;
            later_.clear();
        }
    }
}

std::size_t VirtualPrinterPort::Read(void* buffer, std::size_t count) {
    arrive();
    const std::size_t n = std::min(count, received_.size());
    std::memcpy(buffer, received_.data(), n);
    received_.erase(0, n);
    return n;
}

void VirtualPrinterPort::PurgeRead(bool) {
    arrive();
    received_.clear();
}

void VirtualPrinterPort::PurgeWrite(bool) {
    behaviour_.dropPartialLine();
}

}  // namespace tc::sim
