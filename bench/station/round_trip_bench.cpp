// Station command to reply on loopback: a client sends a command and waits for the
// reply; the server's read handler logs the text and answers through SendStationReply,
// as the window's temporary handler does. Reports the client's round trip per command
// and the server's own part (read event to reply handed to the socket).
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/VirtualEventLoop.h"
#include "station/ServerSocket.h"

using namespace tc::station;
using namespace tc::platform;

static void BM_StationRoundTrip(benchmark::State& state) {
    std::atomic<std::uint16_t> port{0};
    std::atomic<bool> stop{false};
    std::atomic<long long> serverNanos{0};
    std::thread serverThread([&] {
        VirtualEventLoop loop;
        TServerSocket server(loop);
        std::vector<std::string> memo;
        memo.reserve(4096);
        server.setPort(0);
        server.onClientRead = [&](StationConnection& c) {
            const auto t0 = std::chrono::steady_clock::now();
            memo.push_back(c.ReceiveText());
            SendStationReply([&](const std::string& l) { memo.push_back(l); }, server, "READY");
            serverNanos += std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now() - t0)
                               .count();
            if (memo.size() > 4000) memo.clear();
        };
        server.setActive(true);
        port = server.localPort();
        while (!stop) loop.runUntil([&] { return stop.load(); }, Millis(0), Millis(50));
    });
    while (port == 0) std::this_thread::yield();
    auto client = tc::platform::net::connectLoopback(port);
    const int one = 1;
    ::setsockopt(client.get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    char buf[64];
    std::int64_t commands = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) {
            ::send(client.get(), "ReadyToAcquire", 14, 0);
            std::size_t got = 0;
            while (got < 5) {
                const ssize_t n = ::recv(client.get(), buf + got, sizeof buf - got, 0);
                if (n <= 0) {
                    state.SkipWithError("connection lost");
                    break;
                }
                got += std::size_t(n);
            }
        }
        commands += 1000;
    }
    const double elapsedUs =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
    state.counters["commands"] = double(commands);
    state.counters["round_trip_us"] = elapsedUs / double(commands);
    state.counters["server_us"] = double(serverNanos) / 1000.0 / double(commands);
    stop = true;
    client.reset();
    serverThread.join();
}
BENCHMARK(BM_StationRoundTrip)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();

BENCHMARK_MAIN();
