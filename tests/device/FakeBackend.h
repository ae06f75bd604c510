// A backend whose interfaces a test writes down one by one: any identity, any
// capabilities, reports pushed on demand. Records what was sent to each interface.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/hid/HidBackend.h"

namespace tc::test {

using namespace tc::platform::hid;

struct FakeInterface {
    HidInterfaceInfo info;
    bool readWrite = true;
};

inline FakeInterface fakeInterface(std::string id, std::uint16_t vid, std::uint16_t pid,
                                   std::uint16_t usagePage, std::uint16_t usage,
                                   std::uint16_t inputLength, bool readWrite = true) {
    FakeInterface f;
    f.info.instanceId = id;
    f.info.path = "fake:" + id;
    f.info.vendorId = vid;
    f.info.productId = pid;
    f.info.caps.usagePage = usagePage;
    f.info.caps.usage = usage;
    f.info.caps.inputReportByteLength = inputLength;
    f.readWrite = readWrite;
    return f;
}

class FakeBackend final : public HidBackend {
public:
    std::vector<FakeInterface> present;
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> features, writes;

    std::vector<HidInterfaceInfo> enumerate() override {
        std::vector<HidInterfaceInfo> out;
        for (auto& f : present) out.push_back(f.info);
        return out;
    }
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo& info) override {
        for (auto& f : present)
            if (f.info.instanceId == info.instanceId)
                return std::make_unique<Conn>(*this, info.instanceId, f.readWrite);
        return nullptr;
    }
    void setChangeHandler(std::function<void()> h) override { onChange = std::move(h); }

    void remove(const std::string& id) {
        std::erase_if(present, [&](auto& f) { return f.info.instanceId == id; });
        sinks.erase(id);
        if (onChange) onChange();
    }
    void add(FakeInterface f) {
        present.push_back(std::move(f));
        if (onChange) onChange();
    }
    void push(const std::string& id, std::vector<std::uint8_t> report) {
        auto it = sinks.find(id);
        if (it != sinks.end()) it->second(report);
    }
    std::vector<std::vector<std::uint8_t>> featuresTo(const std::string& id) const {
        std::vector<std::vector<std::uint8_t>> out;
        for (auto& [to, r] : features)
            if (to == id) out.push_back(r);
        return out;
    }

    std::function<void()> onChange;
    std::map<std::string, ReportSink> sinks;

private:
    class Conn final : public HidConnection {
    public:
        Conn(FakeBackend& b, std::string id, bool rw) : b_(b), id_(std::move(id)), rw_(rw) {}
        ~Conn() override { stopReports(); }
        bool readWrite() const override { return rw_; }
        SendResult setFeature(std::span<const std::uint8_t> r) override {
            b_.features.emplace_back(id_, std::vector<std::uint8_t>(r.begin(), r.end()));
            return {};
        }
        SendResult write(std::span<const std::uint8_t> r) override {
            b_.writes.emplace_back(id_, std::vector<std::uint8_t>(r.begin(), r.end()));
            return {};
        }
        bool pushesReports() const override { return true; }
        void startReports(ReportSink s) override {
            b_.sinks[id_] = std::move(s);
            started_ = true;
        }
        void stopReports() override {
            if (started_) b_.sinks.erase(id_);
            started_ = false;
        }

    private:
        FakeBackend& b_;
        std::string id_;
        bool rw_;
        bool started_ = false;
    };
};

}  // namespace tc::test
