// Kind-2 test samples through a real read thread and the hand-over to the main thread
// into HidCtrlDeviceData, at a given report rate. A SOCK_SEQPACKET socket pair stands in
// for the hidraw node (it keeps report boundaries); its send buffer is kept small so that
// a reader that falls behind loses reports as a hidraw queue of 64 would.
//
// Usage: bench_device_handover [seconds per rate] [rate...]   (default 3 s, 1000 8000)
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "device/ControllerLink.h"
#include "platform/UniqueFd.h"
#include "platform/VirtualEventLoop.h"
#include "platform/hid/Hidraw.h"

using namespace tc;
using namespace tc::device;
using namespace tc::platform::hid;
using Clock = std::chrono::steady_clock;

namespace {

class SocketBackend final : public HidBackend {
public:
    explicit SocketBackend(int host) : host_(host) {
        info_.instanceId = "bench";
        info_.path = "bench";
        info_.vendorId = 0x1B2F;
        info_.productId = 0x4100;
        info_.caps.usagePage = 0xFF00;
        info_.caps.usage = 1;
        info_.caps.inputReportByteLength = 64;
        info_.caps.outputReportByteLength = 9;
    }
    std::vector<HidInterfaceInfo> enumerate() override { return {info_}; }
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo&) override {
        return std::make_unique<HidrawConnection>(platform::UniqueFd(dup(host_)), false);
    }
    void setChangeHandler(std::function<void()>) override {}

private:
    int host_;  // borrowed: each connection reads a duplicate of its own
    HidInterfaceInfo info_;
};

struct CountingView final : ControllerView {
    int lamp = 0;
    void setLabelDevice(const std::string&) override {}
    void setLabelEPROM(const std::string&) override {}
    void setLabelChecksum(const std::string&) override {}
    void setLabel9(const std::string&) override {}
    void setLabel10(const std::string&) override {}
    void appendLog(const std::string&) override {}
    void setLampIndex(int i) override { lamp = i; }
    int lampIndex() const override { return lamp; }
    void restartTimer1() override {}
    void enableTimer3() override {}
    int debugModeItemIndex() const override { return 1; }
    bool applicationTerminating() const override { return false; }
    bool ReportsBlocked() const override { return false; }
    int edit52Index() const override { return 1; }
};

void run(int rate, double seconds) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0) std::exit(1);
    const platform::UniqueFd hostEnd(fds[0]), deviceEnd(fds[1]);
    const int host = hostEnd.get(), device = deviceEnd.get();
    int small = 64 * 64;
    setsockopt(device, SOL_SOCKET, SO_SNDBUF, &small, sizeof small);

    platform::VirtualEventLoop loop;
    SocketBackend backend(host);
    CountingView view;
    long handled = 0;
    Clock::duration busy{};
    {
        HidCtrl ctrl(loop, backend);
        ControllerLink link(ctrl, view);
        link.connectHandlers();
        ctrl.setOnDeviceData([&](HidDevice& d, std::uint8_t id, std::span<const std::uint8_t> b) {
            const auto t0 = Clock::now();
            link.HidCtrlDeviceData(d, id, b);
            busy += Clock::now() - t0;
            ++handled;
        });
        loop.runPending();  // the first scan holds the interface and starts its reader
        if (!link.DataDevice()) std::exit(2);

        std::atomic<bool> stop{false};
        std::atomic<long> offered{0}, queued{0};
        std::thread producer([&] {
            std::uint8_t r[63] = {0x22, 1, 5, 30, 0x10, 0x01, 0x84, 0x03};
            const auto step = std::chrono::nanoseconds(1'000'000'000 / rate);
            auto next = Clock::now();
            while (!stop) {
                r[2] = std::uint8_t(1 + offered % 30);
                ++offered;
                if (send(device, r, sizeof r, MSG_DONTWAIT | MSG_NOSIGNAL) == ssize_t(sizeof r))
                    ++queued;
                next += step;
                std::this_thread::sleep_until(next);
            }
        });
        const auto start = Clock::now();
        const auto length = std::chrono::duration<double>(seconds);
        loop.runUntil(
            [&] { return Clock::now() - start >= length; }, platform::Millis(3600000),
            std::chrono::duration_cast<platform::Millis>(length) + platform::Millis(1000));
        stop = true;
        producer.join();
        const auto elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        // What is still queued is handed over before the figures are taken.
        loop.runUntil([&] { return handled >= queued; }, platform::Millis(3600000),
                      platform::Millis(1000));
        std::printf(
            "rate %5d/s  %4.1f s  sent %7ld  queued %7ld  handed over %7ld (%5.1f%% of sent)  "
            "handled %7.0f/s  main thread %5.2f us/report\n",
            rate, elapsed, offered.load(), queued.load(), handled,
            offered ? 100.0 * double(handled) / double(offered.load()) : 0.0,
            double(handled) / elapsed,
            handled ? std::chrono::duration<double, std::micro>(busy).count() / double(handled)
                    : 0.0);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    std::vector<int> rates;
    for (int i = 2; i < argc; ++i) rates.push_back(std::atoi(argv[i]));
    if (rates.empty()) rates = {1000, 8000};
    for (int rate : rates) run(rate, seconds);
}
