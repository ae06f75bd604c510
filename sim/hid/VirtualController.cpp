#include "sim/hid/VirtualController.h"

#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include "platform/Error.h"
#include "platform/UniqueFd.h"
#include "platform/hid/Hidraw.h"
#include "platform/hid/ReportDescriptor.h"

namespace tc::sim::hid {

using platform::UniqueFd;
using platform::hid::HidCaps;
using platform::hid::HidConnection;
using platform::hid::HidInterfaceInfo;
using platform::hid::HidrawConnection;
using platform::hid::ReadResult;
using platform::hid::ReportSink;
using platform::hid::SendResult;

namespace {

// Vendor-defined data interface without report IDs: 63 input bytes (64 with the report ID
// byte the layer puts in front) and 8 output bytes (9 with report ID 0).
constexpr std::uint8_t DataDesc[] = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                     0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x3F, 0x09, 0x01,
                                     0x81, 0x02, 0x95, 0x08, 0x09, 0x01, 0x91, 0x02, 0xC0};

// Touch screen in the digitizer page: report 1 carries the touch, feature report 6 the
// commands (8 bytes after the report ID).
constexpr std::uint8_t CommandDesc[] = {
    0x05, 0x0D, 0x09, 0x04, 0xA1, 0x01, 0x85, 0x01, 0x09, 0x22, 0xA1, 0x02, 0x09, 0x42,
    0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x01, 0x81, 0x02, 0x75, 0x07, 0x95, 0x01,
    0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x00, 0x26, 0xFF, 0x0F, 0x75,
    0x10, 0x95, 0x02, 0x81, 0x02, 0xC0, 0x85, 0x06, 0x06, 0x00, 0xFF, 0x09, 0x02, 0x15,
    0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x08, 0xB1, 0x02, 0xC0};

// A boot keyboard: the unrelated device.
constexpr std::uint8_t KeyboardDesc[] = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0};

constexpr std::uint16_t KeyboardVendor = 0x04D9;
constexpr std::uint16_t KeyboardProduct = 0x1603;
constexpr std::size_t ReportLength = 64;  // report ID byte + 63 data bytes
constexpr std::size_t BacklogLimit = 64;  // what a hidraw reader's queue holds
constexpr int CornerDwell = 6;            // shares of the round the pen spends in a corner

const char* portName(Port p) {
    switch (p) {
        case Port::Data:
            return "data";
        case Port::Command:
            return "command";
        default:
            return "extra";
    }
}

std::span<const std::uint8_t> descriptorOf(Port p) {
    switch (p) {
        case Port::Data:
            return DataDesc;
        case Port::Command:
            return CommandDesc;
        default:
            return KeyboardDesc;
    }
}

std::uint64_t mix(std::uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

}  // namespace

// One opened interface. In the loop it keeps the sink its reports are pushed to; threaded,
// the controller's end of a socket pair whose other end the hidraw connection reads.
class VirtualController::Connection final : public HidConnection {
public:
    Connection(VirtualController& c, Port port, unsigned generation, std::uint64_t id,
               bool readWrite)
        : c_(&c), port_(port), generation_(generation), id_(id), readWrite_(readWrite) {
        if (c.delivery_ != Delivery::Threaded || !readWrite) return;
        int fds[2];
        if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) != 0)
            platform::throwErrno("socketpair for the virtual controller");
        device_.reset(fds[1]);
        reader_ = std::make_unique<HidrawConnection>(UniqueFd(fds[0]), c.state(port).numbered);
    }
    ~Connection() override {
        if (c_) c_->forget(port_, id_);
    }

    bool readWrite() const override { return readWrite_; }
    SendResult setFeature(std::span<const std::uint8_t> r) override {
        if (!live()) return {ENODEV};
        if (!readWrite_) return {EBADF};
        // The interface does not declare such a report.
        return c_->onFeature(port_, r) ? SendResult{} : SendResult{EINVAL};
    }
    SendResult write(std::span<const std::uint8_t> r) override {
        if (!live()) return {ENODEV};
        if (!readWrite_) return {EBADF};
        return c_->onOutput(port_, r) ? SendResult{} : SendResult{EINVAL};
    }
    bool pushesReports() const override { return !reader_; }
    ReadResult read(std::span<std::uint8_t> buffer, platform::Millis slice) override {
        return reader_ ? reader_->read(buffer, slice) : HidConnection::read(buffer, slice);
    }
    void cancelRead() override {
        if (reader_) reader_->cancelRead();
    }
    void startReports(ReportSink sink) override {
        if (live() && !reader_) sink_ = std::move(sink);
    }
    void stopReports() override { sink_ = {}; }

    // Main thread, from the controller: one report, report ID first.
    void deliver(std::span<const std::uint8_t> report, bool numbered) {
        if (!reader_) {
            if (!sink_) return;
            const ReportSink sink = sink_;  // the handler may drop it meanwhile
            sink(report);
            return;
        }
        if (!device_ || report.empty()) return;
        // A node without numbered reports gives them without the ID; the reading side puts
        // it back. A reader that has fallen behind loses reports, as a full hidraw queue does.
        const auto wire = numbered ? report : report.subspan(1);
        [[maybe_unused]] const auto sent =
            ::send(device_.get(), wire.data(), wire.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    // The interface has gone: no more reports, and a reader sees the hang-up.
    void hangUp() {
        sink_ = {};
        device_.reset();
    }
    void detach() {
        hangUp();
        c_ = nullptr;
    }

private:
    bool live() const { return c_ && c_->alive(port_, generation_); }

    VirtualController* c_;
    Port port_;
    unsigned generation_;
    std::uint64_t id_;
    bool readWrite_;
    ReportSink sink_;
    UniqueFd device_;
    std::unique_ptr<HidrawConnection> reader_;
};

std::span<const std::uint8_t> VirtualController::dataDescriptor() {
    return DataDesc;
}
std::span<const std::uint8_t> VirtualController::commandDescriptor() {
    return CommandDesc;
}
std::span<const std::uint8_t> VirtualController::keyboardDescriptor() {
    return KeyboardDesc;
}

VirtualController::VirtualController(platform::EventLoop& loop, Scenario scenario,
                                     Delivery delivery)
    : loop_(loop), scenario_(std::move(scenario)), delivery_(delivery) {
    scenario_.rows = std::clamp(scenario_.rows, 1, MaxLines);
    scenario_.columns = std::clamp(scenario_.columns, 1, MaxLines);
    scenario_.sampleRate = std::clamp(scenario_.sampleRate, 1, 1000);
    scenario_.announcedRows = std::clamp(scenario_.announcedRows, -1, 255);
    scenario_.announcedColumns = std::clamp(scenario_.announcedColumns, -1, 255);
    scenario_.liftEvery = std::max(0, scenario_.liftEvery);
    scenario_.strayEvery = std::max(0, scenario_.strayEvery);
    eeprom_.rows = std::uint8_t(scenario_.announcedRows < 0 ? scenario_.rows
                                                            : scenario_.announcedRows);
    eeprom_.columns = std::uint8_t(scenario_.announcedColumns < 0 ? scenario_.columns
                                                                  : scenario_.announcedColumns);
    eeprom_.reference = scenario_.reference;
    for (std::size_t i = 0; i < MaxLines; ++i) {
        const auto& r = scenario_.rowLines[i];
        const auto& c = scenario_.columnLines[i];
        eeprom_.rowMin[i] = r.min;
        eeprom_.rowGain[i] = gainCodeFor(scenario_.reference, r.min, r.max);
        eeprom_.colMin[i] = c.min;
        eeprom_.colGain[i] = gainCodeFor(scenario_.reference, c.min, c.max);
    }
    pending_ = eeprom_;
    ports_[0].plugged = ports_[1].plugged = true;
    ports_[2].plugged = scenario_.extraDevice;
    for (Port p : {Port::Data, Port::Command, Port::Extra})
        state(p).numbered = platform::hid::parseReportDescriptor(descriptorOf(p)).numberedReports;
    for (const PlugEvent& e : scenario_.events)
        after(e.at, [this, e] { e.plugIn ? plug(e.port) : unplug(e.port); });
}

VirtualController::~VirtualController() {
    for (PortState& s : ports_) {
        for (auto& [id, c] : s.connections) c->detach();
        s.connections.clear();
    }
}

std::vector<HidInterfaceInfo> VirtualController::enumerate() {
    std::vector<HidInterfaceInfo> out;
    for (Port p : {Port::Data, Port::Command, Port::Extra}) {
        const PortState& s = state(p);
        if (!s.plugged) continue;
        HidInterfaceInfo info;
        info.instanceId =
            std::string("virtual/") + portName(p) + "#" + std::to_string(s.generation);
        info.path = std::string("virtual:") + portName(p);
        info.bus = 3;
        const bool extra = p == Port::Extra;
        info.vendorId = extra ? KeyboardVendor : scenario_.vendorId;
        info.productId = extra ? KeyboardProduct : scenario_.productId;
        const auto parsed = platform::hid::parseReportDescriptor(descriptorOf(p));
        info.caps = parsed.caps;
        info.collections = parsed.collections;
        info.numberedReports = parsed.numberedReports;
        out.push_back(std::move(info));
    }
    return out;
}

std::unique_ptr<HidConnection> VirtualController::open(const HidInterfaceInfo& info) {
    for (Port p : {Port::Data, Port::Command, Port::Extra}) {
        const PortState& s = state(p);
        const std::string id =
            std::string("virtual/") + portName(p) + "#" + std::to_string(s.generation);
        if (!s.plugged || info.instanceId != id) continue;
        const std::uint64_t n = nextConnection_++;
        auto c = std::make_unique<Connection>(*this, p, s.generation, n,
                                              !(p == Port::Extra && scenario_.extraAccessOnly));
        state(p).connections[n] = c.get();
        return c;
    }
    return nullptr;
}

void VirtualController::setChangeHandler(std::function<void()> onChange) {
    onChange_ = std::move(onChange);
}

bool VirtualController::alive(Port p, unsigned generation) const {
    const PortState& s = state(p);
    return s.plugged && s.generation == generation;
}

void VirtualController::forget(Port p, std::uint64_t connection) {
    state(p).connections.erase(connection);
}

void VirtualController::announce() {
    scope_.post([this] {
        if (onChange_) onChange_();
    });
}

void VirtualController::plug(Port port) {
    PortState& s = state(port);
    if (s.plugged) return;
    s.plugged = true;
    ++s.generation;  // a new plug is a new interface instance
    announce();
}

void VirtualController::unplug(Port port) {
    PortState& s = state(port);
    if (!s.plugged) return;
    s.plugged = false;
    for (auto& [id, c] : s.connections) c->hangUp();
    s.connections.clear();  // they stay with their holders, who see them gone
    announce();
}

bool VirtualController::plugged(Port port) const {
    return state(port).plugged;
}

void VirtualController::injectReport(Port port, std::vector<std::uint8_t> report) {
    scope_.post([this, port, report = std::move(report)] { emit(port, report); });
}

void VirtualController::emit(Port p, std::span<const std::uint8_t> report) {
    // A handler may check the interface in (and so close its connection) while we deliver.
    std::vector<std::uint64_t> ids;
    for (auto& [id, c] : state(p).connections) ids.push_back(id);
    for (std::uint64_t id : ids) {
        auto& open = state(p).connections;
        auto it = open.find(id);
        if (it != open.end()) it->second->deliver(report, state(p).numbered);
    }
}

void VirtualController::after(platform::Millis delay, std::function<void()> task) {
    std::erase_if(oneShots_, [](const platform::TimerHandle& t) { return !t.active(); });
    oneShots_.push_back(loop_.after(delay, std::move(task)));
}

std::uint8_t VirtualController::flags() const {
    return std::uint8_t((scenario_.epromPresent ? 0x20 : 0) |
                        (scenario_.checksumFailed ? 0x10 : 0));
}

std::vector<std::uint8_t> VirtualController::rawBlock(int n) const {
    // Report ID 0, then block bytes 0..62: the 7-byte head and up to 28 values. The
    // block's byte 63 does not fit the 63 data bytes and is not used.
    std::vector<std::uint8_t> r(ReportLength, 0);
    std::uint8_t* b = r.data() + 1;
    b[0] = std::uint8_t(flags() | 5);
    b[2] = eeprom_.rows;
    b[3] = eeprom_.columns;
    b[4] = std::uint8_t(n);
    b[5] = std::uint8_t(eeprom_.reference & 0xFF);
    b[6] = std::uint8_t(eeprom_.reference >> 8);
    const auto& values = n == 0   ? eeprom_.rowMin
                         : n == 1 ? eeprom_.rowGain
                         : n == 2 ? eeprom_.colMin
                                  : eeprom_.colGain;
    const int count =
        std::min({n < 2 ? int(eeprom_.rows) : int(eeprom_.columns), ValuesPerBlock, MaxLines});
    for (int i = 0; i < count; ++i) {
        b[7 + 2 * i] = std::uint8_t(values[std::size_t(i)] & 0xFF);
        b[8 + 2 * i] = std::uint8_t(values[std::size_t(i)] >> 8);
    }
    return r;
}

bool VirtualController::onOutput(Port p, std::span<const std::uint8_t> report) {
    if (p != Port::Data || report.size() != 9 || report[0] != 0) return false;
    outputs_.emplace_back(report.begin(), report.end());
    return true;
}

bool VirtualController::onFeature(Port p, std::span<const std::uint8_t> report) {
    // Only the command interface declares feature report 6, 9 bytes with its ID.
    if (p != Port::Command || report.size() != 9 || report[0] != 0x06) return false;
    features_.emplace_back(report.begin(), report.end());
    const std::uint8_t arg = report[2];
    switch (report[1]) {
        case 0x80:
            stopStream();
            break;
        case 0x84:
            startStream();
            break;
        case 0x8A:
            if (arg < 4 && !scenario_.blockMissing[arg])
                after(scenario_.latency, [this, arg] { emit(Port::Data, rawBlock(arg)); });
            break;
        case 0x86: {
            const std::size_t i = report[3];
            if (i >= MaxLines) break;
            const auto lineMin = std::uint16_t(report[4] | (report[5] << 8));
            const auto gain = std::uint16_t(report[6] | (report[7] << 8));
            if (arg == 1) {
                pending_.rowMin[i] = lineMin;
                pending_.rowGain[i] = gain;
            } else {
                pending_.colMin[i] = lineMin;
                pending_.colGain[i] = gain;
            }
            break;
        }
        case 0x88:
            if (scenario_.epromPresent) eeprom_ = pending_;
            pending_ = eeprom_;
            if (scenario_.answerCommit)
                after(scenario_.commitLatency, [this] {
                    std::vector<std::uint8_t> r(ReportLength, 0);
                    r[1] = std::uint8_t(flags() | 4);
                    emit(Port::Data, r);
                });
            break;
        default:
            break;  // RawCoordinates and anything else: taken, no answer
    }
    return true;
}

void VirtualController::startStream() {
    testMode_ = true;
    if (stream_) return;  // already streaming: the pen goes on where it is
    streamStart_ = loop_.monotonic();
    nextSample_ = 0;
    const auto interval = platform::Millis(std::max(1, 1000 / scenario_.sampleRate));
    // The first samples come with the first tick, never inside the command's own send.
    stream_ = loop_.every(interval, [this] { streamTick(); });
}

void VirtualController::stopStream() {
    testMode_ = false;
    stream_.reset();
}

void VirtualController::streamTick() {
    const auto elapsed = std::uint64_t((loop_.monotonic() - streamStart_).count());
    const std::uint64_t due = elapsed * std::uint64_t(scenario_.sampleRate) / 1000 + 1;
    std::uint64_t first = nextSample_;
    // After a long stall the host's queue would have kept only so many.
    const std::uint64_t last = std::min(due, first + BacklogLimit);
    nextSample_ = due;
    std::vector<std::uint8_t> report;
    for (std::uint64_t k = first; k < last && stream_; ++k) {
        if (!sampleAt(k, report)) continue;
        ++samplesSent_;
        const auto touch = touchReport(report);
        disturb(samplesSent_, report);
        emit(Port::Data, report);
        if (scenario_.touchReports) emit(Port::Command, touch);
    }
}

bool VirtualController::sampleAt(std::uint64_t k, std::vector<std::uint8_t>& report) const {
    const int n = scenario_.rows, m = scenario_.columns;
    // The pen's round: top edge left to right, right edge down, bottom edge right to
    // left, left edge up. The pen lingers in the four corners, as a hand turning there
    // does (CornerDwell shares each); every other cell of the perimeter gets one share.
    const int cells = std::max(1, 2 * m + 2 * n - 4);
    const std::array<int, 4> corners{0, m - 1, m + n - 2, 2 * m + n - 3};
    const int shares = cells + int(corners.size()) * (CornerDwell - 1);
    const double t = double(k) * 1000.0 / scenario_.sampleRate;
    const double round = double(scenario_.roundTime.count());
    const double phase = std::fmod(t, round) / round;
    int share = std::min(shares - 1, int(phase * shares));
    int c = 0;
    for (; c < cells - 1; ++c) {
        const bool corner = std::find(corners.begin(), corners.end(), c) != corners.end();
        const int width = corner ? CornerDwell : 1;
        if (share < width) break;
        share -= width;
    }
    int p, q;
    if (c < m) {
        p = 1, q = c + 1;
    } else if ((c -= m) < n - 1) {
        p = c + 2, q = m;
    } else if ((c -= n - 1) < m - 1) {
        p = n, q = m - 1 - c;
    } else {
        c -= m - 1;
        p = n - 1 - c, q = 1;
    }
    p = std::clamp(p, 1, n);
    q = std::clamp(q, 1, m);
    const PanelLine& row = scenario_.rowLines[std::size_t(p - 1)];
    const PanelLine& col = scenario_.columnLines[std::size_t(q - 1)];
    if (row.fault == LineFault::Short || col.fault == LineFault::Short) return false;
    // An open line is read only near its maximum end.
    if (row.fault == LineFault::Open && 2 * q > m) return false;
    if (col.fault == LineFault::Open && 2 * p > n) return false;
    // A row line's value falls from its maximum at the first column to its minimum at the
    // last; a column line's from the first row to the last.
    const double fy = m > 1 ? double(q - 1) / (m - 1) : 0.0;
    const double fx = n > 1 ? double(p - 1) / (n - 1) : 0.0;
    double y = row.max + (double(row.min) - row.max) * fy;
    double x = col.max + (double(col.min) - col.max) * fx;
    if (scenario_.noise > 0) {
        const auto span = std::uint64_t(2 * scenario_.noise + 1);
        x += double(int(mix(scenario_.seed * 0x100000001ull + 2 * k) % span) - scenario_.noise);
        y += double(int(mix(scenario_.seed * 0x100000001ull + 2 * k + 1) % span) - scenario_.noise);
    }
    const auto X = std::uint16_t(std::clamp(std::lround(x), 1L, 4095L));
    const auto Y = std::uint16_t(std::clamp(std::lround(y), 1L, 4095L));
    report.assign(ReportLength, 0);
    std::uint8_t* b = report.data() + 1;
    b[0] = std::uint8_t(flags() | 2);
    b[1] = 1;  // a sample is present
    b[2] = std::uint8_t(p);
    b[3] = std::uint8_t(q);
    b[4] = std::uint8_t(X & 0xFF);
    b[5] = std::uint8_t(X >> 8);
    b[6] = std::uint8_t(Y & 0xFF);
    b[7] = std::uint8_t(Y >> 8);
    return true;
}

std::vector<std::uint8_t> VirtualController::touchReport(std::span<const std::uint8_t> sample) {
    // Report 1 of the touch screen: the tip switch, then X and Y as the panel reads them.
    return {0x01, 0x01, sample[5], sample[6], sample[7], sample[8]};
}

void VirtualController::disturb(std::uint64_t n, std::vector<std::uint8_t>& report) const {
    std::uint8_t* b = report.data() + 1;
    if (scenario_.liftEvery > 0 && n % std::uint64_t(scenario_.liftEvery) == 0) {
        b[1] = 0;  // the pen is up: the lines and values are left over from the last touch
        return;
    }
    if (scenario_.strayEvery > 0 && n % std::uint64_t(scenario_.strayEvery) == 0) {
        // Line numbers a panel of this size does not have, one kind after the other.
        switch ((n / std::uint64_t(scenario_.strayEvery)) % 5) {
            case 0:
                b[2] = 0;
                break;
            case 1:
                b[3] = 0;
                break;
            case 2:
                b[2] = std::uint8_t(scenario_.rows + 1);
                break;
            case 3:
                b[3] = std::uint8_t(scenario_.columns + 1);
                break;
            default:
                b[2] = b[3] = 255;
                break;
        }
    }
}

std::unique_ptr<platform::hid::HidBackend> makeVirtualController(platform::EventLoop& loop,
                                                                 const Scenario& scenario,
                                                                 Delivery delivery) {
    return std::make_unique<VirtualController>(loop, scenario, delivery);
}

}  // namespace tc::sim::hid
