// The virtual touch controller: a HID backend with the controller's data and command
// interfaces (and, if asked, an unrelated keyboard). Everything it does runs on the main
// loop: commands are answered after small latencies through loop timers, test samples
// come from a loop timer, and reports are pushed straight into the controller layer's
// delivery path. On the virtual-time loop this is deterministic; on a real loop it runs
// in real time.
#pragma once

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

class VirtualController final : public platform::hid::HidBackend {
public:
    VirtualController(platform::EventLoop& loop, Scenario scenario);
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
        std::map<std::uint64_t, platform::hid::ReportSink> sinks;
    };

    PortState& state(Port p) { return ports_[std::size_t(p)]; }
    const PortState& state(Port p) const { return ports_[std::size_t(p)]; }
    bool alive(Port p, unsigned generation) const;
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

    platform::EventLoop& loop_;
    Scenario scenario_;
    EepromTable eeprom_;
    EepromTable pending_;
    std::array<PortState, 3> ports_;
    std::function<void()> onChange_;
    std::map<platform::TimerId, std::function<void()>> oneShots_;
    std::uint64_t nextSink_ = 1;
    bool testMode_ = false;
    platform::TimerId streamTimer_ = 0;
    platform::Millis streamStart_{0};
    std::uint64_t nextSample_ = 0;
    std::uint64_t samplesSent_ = 0;
    std::vector<std::vector<std::uint8_t>> features_, outputs_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

std::unique_ptr<platform::hid::HidBackend> makeVirtualController(platform::EventLoop& loop,
                                                                 const Scenario& scenario);

}  // namespace tc::sim::hid
