// Bytes through the serial port's rings and threads on a pseudo-terminal, both ways: the
// main thread writes (or reads) without ever waiting, a thread plays the far end.
#include <benchmark/benchmark.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "label/CommDevice.h"
#include "platform/serial/PseudoTerminal.h"

using tc::label::TCommDevice;
using tc::platform::PseudoTerminal;

namespace {

constexpr std::size_t kBytes = 4 * 1024 * 1024;

void openOn(TCommDevice& port, PseudoTerminal& pty) {
    port.setBaudRate(115200);
    port.setDevicePath(pty.slavePath());
    port.Open();
}

}  // namespace

static void BM_SerialSend(benchmark::State& state) {
    for (auto _ : state) {
        PseudoTerminal pty;
        TCommDevice port;
        openOn(port, pty);
        std::thread farEnd([&] {
            std::size_t got = 0;
            char buf[65536];
            while (got < kBytes) {
                pollfd p{pty.master(), POLLIN, 0};
                if (::poll(&p, 1, 5000) != 1) return;
                const ssize_t n = ::read(pty.master(), buf, sizeof buf);
                if (n > 0) got += std::size_t(n);
            }
        });
        const std::string chunk(1024, 's');
        std::size_t sent = 0;
        while (sent < kBytes) {
            const std::size_t n = port.Write(chunk.data(), std::min(chunk.size(), kBytes - sent));
            sent += n;
            if (n == 0) std::this_thread::yield();  // ring full: the writer is behind
        }
        farEnd.join();
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(kBytes));
}
BENCHMARK(BM_SerialSend)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

static void BM_SerialReceive(benchmark::State& state) {
    std::int64_t delivered = 0, dropped = 0;
    for (auto _ : state) {
        PseudoTerminal pty;
        TCommDevice port;
        openOn(port, pty);
        std::atomic<bool> done{false};
        std::thread farEnd([&] {
            const std::string chunk(4096, 'r');
            std::size_t sent = 0;
            while (sent < kBytes && !done) {
                const ssize_t n = ::write(pty.master(), chunk.data(), chunk.size());
                if (n > 0) {
                    sent += std::size_t(n);
                } else {
                    pollfd p{pty.master(), POLLOUT, 0};
                    ::poll(&p, 1, 100);
                }
            }
        });
        std::size_t got = 0;
        char buf[2000];
        while (got + port.droppedOnReceive() < kBytes) {
            const std::size_t n = port.Read(buf, sizeof buf);
            got += n;
            if (n == 0) std::this_thread::yield();
        }
        done = true;
        farEnd.join();
        delivered += std::int64_t(got);
        dropped += std::int64_t(port.droppedOnReceive());
    }
    // A reader that falls behind by a full ring loses bytes by design; count them.
    state.SetBytesProcessed(delivered);
    state.counters["dropped_bytes"] = double(dropped);
}
BENCHMARK(BM_SerialReceive)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

BENCHMARK_MAIN();
