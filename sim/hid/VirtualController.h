// The virtual touch controller: a HID backend with the controller's data and command
// interfaces (and, if asked, an unrelated keyboard). Commands are answered after small
// latencies through loop timers and test samples come from a loop timer. Its reports reach
// the controller layer one of two ways:
// - in the loop (the default): pushed straight into the layer's delivery path, so a run on
//   the virtual-time loop is deterministic;
// - threaded: written to a SOCK_SEQPACKET socket per opened interface, whose other end a
//   real hidraw connection reads on the layer's read thread, so the read threads and their
//   hand-overs run as with a real unit. Feature and output reports still reach the
//   controller directly on the main thread (a socket takes no hidraw ioctl); an unplug
//   closes the controller's ends, and the readers see the hang-up as on a real node.
//
// Threads: everything of the controller runs on the main thread. In threaded mode the
// connections' read and cancelRead run on the read threads and touch only the socket they
// read. A connection may outlive the controller; it is then as if unplugged.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/hid/HidBackend.h"
#include "sim/hid/Scenario.h"

namespace tc::sim::hid {

// How the reports reach the controller layer (see above).
enum class Delivery { InLoop, Threaded };

class VirtualController final : public platform::hid::HidBackend {
public:
    VirtualController(platform::EventLoop& loop, Scenario scenario,
                      Delivery delivery = Delivery::InLoop);
    ~VirtualController() override;
    VirtualController(const VirtualController&) = delete;
    VirtualController& operator=(const VirtualController&) = delete;

    // HidBackend
    std::vector<platform::hid::HidInterfaceInfo> enumerate() override;
    std::unique_ptr<platform::hid::HidConnection> open(
        const platform::hid::HidInterfaceInfo& info) override;
    void setChangeHandler(std::function<void()> onChange) override;

    // Test controls. Plug changes are announced through the change handler, posted.
    void plug(Port port);
    void unplug(Port port);
    bool plugged(Port port) const;
    // Sends a raw report (report ID first) on an interface, posted.
    void injectReport(Port port, std::vector<std::uint8_t> report);

    // What the controller has seen and holds.
    const Scenario& scenario() const { return scenario_; }
    Delivery delivery() const { return delivery_; }
    EepromTable& eeprom() { return eeprom_; }
    bool testMode() const { return testMode_; }
    const std::vector<std::vector<std::uint8_t>>& featureReports() const { return features_; }
    const std::vector<std::vector<std::uint8_t>>& outputReports() const { return outputs_; }
    std::uint64_t samplesSent() const { return samplesSent_; }

    // The interfaces' report descriptors, as a real unit would declare them.
    static std::span<const std::uint8_t> dataDescriptor();
    static std::span<const std::uint8_t> commandDescriptor();
    static std::span<const std::uint8_t> keyboardDescriptor();

private:
    class Connection;
    struct PortState {
        bool plugged = false;
        unsigned generation = 0;
        bool numbered = false;  // its reports carry a report ID
        // The connections opened on the present plug, by a number of their own.
        std::map<std::uint64_t, Connection*> connections;
    };

    PortState& state(Port p) { return ports_[std::size_t(p)]; }
    const PortState& state(Port p) const { return ports_[std::size_t(p)]; }
    bool alive(Port p, unsigned generation) const;
    void forget(Port p, std::uint64_t connection);
    bool onFeature(Port p, std::span<const std::uint8_t> report);
    bool onOutput(Port p, std::span<const std::uint8_t> report);
    void emit(Port p, std::span<const std::uint8_t> report);
    void after(platform::Millis delay, std::function<void()> task);
    void announce();
    std::uint8_t flags() const;
    std::vector<std::uint8_t> rawBlock(int n) const;
    void startStream();
    void stopStream();
    void streamTick();
    bool sampleAt(std::uint64_t k, std::vector<std::uint8_t>& report) const;
    // The touch as the command interface reports it, from a sample report.
    static std::vector<std::uint8_t> touchReport(std::span<const std::uint8_t> sample);
    // The scenario's lifted pen and stray lines, on the n-th sample sent.
    void disturb(std::uint64_t n, std::vector<std::uint8_t>& report) const;

    platform::EventLoop& loop_;
    Scenario scenario_;
    Delivery delivery_;
    EepromTable eeprom_;
    EepromTable pending_;
    std::array<PortState, 3> ports_;
    std::function<void()> onChange_;
    std::vector<platform::TimerHandle> oneShots_;
    std::uint64_t nextConnection_ = 1;
    bool testMode_ = false;
    platform::TimerHandle stream_;
    platform::Millis streamStart_{0};
    std::uint64_t nextSample_ = 0;
    std::uint64_t samplesSent_ = 0;
    std::vector<std::vector<std::uint8_t>> features_, outputs_;
    platform::PostScope scope_{loop_};  // plug announcements and injected reports
};

std::unique_ptr<platform::hid::HidBackend> makeVirtualController(
    platform::EventLoop& loop, const Scenario& scenario, Delivery delivery = Delivery::InLoop);

}  // namespace tc::sim::hid
