// A ring of 8192 bytes holding at most 8191, for one producer thread and one consumer
// thread without a lock: each side moves only its own index. The indices count bytes
// since the start and never wrap; the position in the buffer is the index modulo 8192.
#pragma once

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tc::label {

class ByteRing {
public:
    static constexpr std::size_t kSize = 8192;
    static constexpr std::size_t kCapacity = kSize - 1;

    // Producer: copies in what fits; the rest is not taken.
    std::size_t push(const std::uint8_t* data, std::size_t count) {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        const std::uint64_t tail = tail_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, kCapacity - std::size_t(head - tail));
        copyIn(head, data, n);
        head_.store(head + n, std::memory_order_release);
        return n;
    }

    // Consumer: copies out up to `count` bytes; `start` receives the index of the first.
    std::size_t pop(std::uint8_t* out, std::size_t count, std::uint64_t* start = nullptr) {
        std::uint64_t tail = tail_.load(std::memory_order_relaxed);
        tail = std::max(tail, discardTo_.load(std::memory_order_acquire));
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        const std::size_t n = std::min(count, std::size_t(head - tail));
        copyOut(tail, out, n);
        tail_.store(tail + n, std::memory_order_release);
        if (start) *start = tail;
        return n;
    }

    // Consumer: drops everything that has been pushed so far.
    void discardAsConsumer() {
        tail_.store(head_.load(std::memory_order_acquire), std::memory_order_release);
    }

    // Producer: everything pushed so far is to be dropped; the consumer skips it on its
    // next pop, which is also when its space becomes free again. Returns the index up to
    // which bytes are dropped.
    std::uint64_t discardAsProducer() {
        const std::uint64_t head = head_.load(std::memory_order_relaxed);
        discardTo_.store(head, std::memory_order_release);
        return head;
    }

    // Either side: bytes waiting (exact only when the other side is still).
    std::size_t size() const {
        const std::uint64_t head = head_.load(std::memory_order_acquire);
        const std::uint64_t tail = std::max(tail_.load(std::memory_order_acquire),
                                            discardTo_.load(std::memory_order_acquire));
        return head > tail ? std::size_t(head - tail) : 0;
    }

    // Only while neither thread uses the ring.
    void reset() {
        head_.store(0);
        tail_.store(0);
        discardTo_.store(0);
    }

private:
    void copyIn(std::uint64_t at, const std::uint8_t* data, std::size_t n) {
        if (n == 0) return;
        const std::size_t pos = std::size_t(at % kSize);
        const std::size_t first = std::min(n, kSize - pos);
        std::memcpy(buf_.data() + pos, data, first);
        std::memcpy(buf_.data(), data + first, n - first);
    }
    void copyOut(std::uint64_t at, std::uint8_t* out, std::size_t n) const {
        if (n == 0) return;
        const std::size_t pos = std::size_t(at % kSize);
        const std::size_t first = std::min(n, kSize - pos);
        std::memcpy(out, buf_.data() + pos, first);
        std::memcpy(out + first, buf_.data(), n - first);
    }

    alignas(64) std::atomic<std::uint64_t> head_{0};       // producer's
    alignas(64) std::atomic<std::uint64_t> tail_{0};       // consumer's
    alignas(64) std::atomic<std::uint64_t> discardTo_{0};  // producer's purge mark
    alignas(64) std::array<std::uint8_t, kSize> buf_{};
};

}  // namespace tc::label
