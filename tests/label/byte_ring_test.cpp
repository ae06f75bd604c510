#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

#include "label/ByteRing.h"

using tc::label::ByteRing;

namespace {

std::vector<std::uint8_t> sequence(std::size_t n, std::uint8_t from = 0) {
    std::vector<std::uint8_t> v(n);
    std::iota(v.begin(), v.end(), from);
    return v;
}

}  // namespace

TEST(ByteRing, HoldsAtMost8191BytesAndDropsTheExcess) {
    auto ring = std::make_unique<ByteRing>();
    const auto data = sequence(10000);
    EXPECT_EQ(ring->push(data.data(), data.size()), 8191u);
    EXPECT_EQ(ring->push(data.data(), 1), 0u);
    std::vector<std::uint8_t> out(10000);
    ASSERT_EQ(ring->pop(out.data(), out.size()), 8191u);
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + 8191, data.begin()));
    EXPECT_EQ(ring->pop(out.data(), 1), 0u);
}

TEST(ByteRing, KeepsOrderAcrossTheWrap) {
    auto ring = std::make_unique<ByteRing>();
    std::vector<std::uint8_t> out(5000);
    for (int round = 0; round < 7; ++round) {
        const auto data = sequence(5000, std::uint8_t(round));
        ASSERT_EQ(ring->push(data.data(), data.size()), data.size());
        ASSERT_EQ(ring->pop(out.data(), out.size()), out.size());
        EXPECT_EQ(out, data) << "round " << round;
    }
}

TEST(ByteRing, DiscardFromEitherSideEmptiesWhatWasPushed) {
    for (const bool byProducer : {false, true}) {
        auto ring = std::make_unique<ByteRing>();
        const auto data = sequence(ByteRing::kCapacity);
        ring->push(data.data(), 5000);
        if (byProducer) {
            ring->discardAsProducer();
        } else {
            ring->discardAsConsumer();
        }
        EXPECT_EQ(ring->size(), 0u);
        const std::uint8_t after[] = {42, 43};
        ring->push(after, 2);
        std::uint8_t out[4];
        ASSERT_EQ(ring->pop(out, 4), 2u) << "by producer: " << byProducer;
        EXPECT_EQ(out[0], 42);
        EXPECT_EQ(out[1], 43);
        // Once the consumer has passed the discarded bytes their room is free again.
        EXPECT_EQ(ring->push(data.data(), 8191), 8191u);
    }
}

TEST(ByteRing, OneProducerAndOneConsumerThreadLoseAndReorderNothing) {
    auto ring = std::make_unique<ByteRing>();
    constexpr std::size_t kTotal = 4 * 1024 * 1024;
    std::thread producer([&] {
        std::uint8_t chunk[777];
        std::size_t sent = 0;
        while (sent < kTotal) {
            const std::size_t n = std::min(sizeof chunk, kTotal - sent);
            for (std::size_t i = 0; i < n; ++i) chunk[i] = std::uint8_t((sent + i) * 31);
            std::size_t done = 0;
            while (done < n) done += ring->push(chunk + done, n - done);
            sent += n;
        }
    });
    std::size_t got = 0;
    bool ordered = true;
    std::uint8_t buf[1000];
    while (got < kTotal) {
        const std::size_t n = ring->pop(buf, sizeof buf);
        for (std::size_t i = 0; i < n; ++i) ordered &= buf[i] == std::uint8_t((got + i) * 31);
        got += n;
    }
    producer.join();
    EXPECT_TRUE(ordered);
}
