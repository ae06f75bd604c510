// The main window as the controller link sees it, written down for tests.
#pragma once

#include <string>
#include <vector>

#include "device/ControllerLink.h"

namespace tc::test {

struct FakeView final : device::ControllerView {
    std::string labelDevice = "Device: PlugOut", labelEprom = "EPROM: None",
                labelChecksum = "Checksum: Fail", label9 = "----", label10 = "----";
    std::vector<std::string> memo1;
    int lamp = 0;
    int timer1Restarts = 0;
    int timer3Enables = 0;
    int debugItem = 1;
    bool terminating = false;
    bool reportsBlocked = false;
    int edit52 = 1;
    std::vector<std::vector<std::uint8_t>> romResults;
    // What the ROM-result handling does with a report; default: takes it, blocks reports.
    std::function<bool(const device::RomWriteResult&)> romResult;
    // The link's handler for results, recording them here.
    device::RomResultHandler romResultHandler() {
        return [this](const device::RomWriteResult& r) {
            romResults.push_back({r.flags});
            return romResult ? romResult(r) : false;
        };
    }

    void setLabelDevice(const std::string& t) override { labelDevice = t; }
    void setLabelEPROM(const std::string& t) override { labelEprom = t; }
    void setLabelChecksum(const std::string& t) override { labelChecksum = t; }
    void setLabel9(const std::string& t) override { label9 = t; }
    void setLabel10(const std::string& t) override { label10 = t; }
    void appendLog(const std::string& line) override { memo1.push_back(line); }
    void setLampIndex(int i) override { lamp = i; }
    int lampIndex() const override { return lamp; }
    void restartTimer1() override { ++timer1Restarts; }
    void enableTimer3() override { ++timer3Enables; }
    int debugModeItemIndex() const override { return debugItem; }
    bool applicationTerminating() const override { return terminating; }
    bool ReportsBlocked() const override { return reportsBlocked; }
    int edit52Index() const override { return edit52; }
};

}  // namespace tc::test
