#include "sim/hid/Scenario.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

#include "platform/Convert.h"
#include "platform/UniqueFd.h"

namespace tc::sim::hid {

Scenario defaultScenario() {
    Scenario s;
    // A little spread from line to line, as real panels have, all far from the limits
    // (minimum <= R/4 = 750, maximum >= 3R/4 = 2250 for R = 3000).
    for (int i = 0; i < MaxLines; ++i) {
        s.rowLines[std::size_t(i)] = {std::uint16_t(140 + (i * 37) % 60),
                                      std::uint16_t(2820 + (i * 53) % 70), LineFault::None};
        s.columnLines[std::size_t(i)] = {std::uint16_t(150 + (i * 29) % 55),
                                         std::uint16_t(2810 + (i * 41) % 75), LineFault::None};
    }
    return s;
}

std::uint16_t gainCodeFor(std::uint16_t reference, std::uint16_t min, std::uint16_t max) {
    const double r = reference;
    const double d = double(int(max) - int(min));
    if (d <= 0) return 0;
    const double x = r <= d ? (r / d) * 65536.0 : ((r - d) / d) * 65536.0;
    return std::uint16_t(std::uint32_t(float(x)) & 0xFFFF);
}

namespace {

[[noreturn]] void fail(int line, const std::string& what) {
    throw ScenarioError("scenario line " + std::to_string(line) + ": " + what);
}

int number(int line, const std::string& word, int lo, int hi) {
    int v;
    try {
        v = platform::strToInt(word);
    } catch (const std::exception&) {
        fail(line, "'" + word + "' is not a number");
    }
    if (v < lo || v > hi)
        fail(line, word + " is outside " + std::to_string(lo) + ".." + std::to_string(hi));
    return v;
}

Port port(int line, const std::string& word) {
    if (word == "data") return Port::Data;
    if (word == "command") return Port::Command;
    if (word == "extra") return Port::Extra;
    fail(line, "unknown interface '" + word + "' (data, command, extra)");
}

void applyLineSettings(int ln, PanelLine& l, const std::vector<std::string>& w, std::size_t from) {
    for (std::size_t i = from; i < w.size(); ++i) {
        if (w[i] == "open")
            l.fault = LineFault::Open;
        else if (w[i] == "short")
            l.fault = LineFault::Short;
        else if (w[i] == "good")
            l.fault = LineFault::None;
        else if ((w[i] == "min" || w[i] == "max") && i + 1 < w.size()) {
            const auto v = std::uint16_t(number(ln, w[i + 1], 1, 4095));
            (w[i] == "min" ? l.min : l.max) = v;
            ++i;
        } else
            fail(ln, "unknown line setting '" + w[i] + "'");
    }
}

}  // namespace

Scenario parseScenario(std::string_view text) {
    Scenario s = defaultScenario();
    std::istringstream in{std::string(text)};
    std::string raw;
    int ln = 0;
    while (std::getline(in, raw)) {
        ++ln;
        if (auto hash = raw.find('#'); hash != std::string::npos) raw.resize(hash);
        std::istringstream words(raw);
        std::vector<std::string> w;
        for (std::string x; words >> x;) w.push_back(x);
        if (w.empty()) continue;
        const std::string& k = w[0];
        auto arg = [&](std::size_t i) -> const std::string& {
            if (i >= w.size()) fail(ln, "'" + k + "' needs a value");
            return w[i];
        };
        if (k == "rows")
            s.rows = number(ln, arg(1), 1, MaxLines);
        else if (k == "columns")
            s.columns = number(ln, arg(1), 1, MaxLines);
        else if (k == "announce-rows")
            s.announcedRows = number(ln, arg(1), 0, 255);
        else if (k == "announce-columns")
            s.announcedColumns = number(ln, arg(1), 0, 255);
        else if (k == "pen-lift-every")
            s.liftEvery = number(ln, arg(1), 0, 1000000);
        else if (k == "stray-every")
            s.strayEvery = number(ln, arg(1), 0, 1000000);
        else if (k == "touch-reports")
            s.touchReports = true;
        else if (k == "reference")
            s.reference = std::uint16_t(number(ln, arg(1), 1, 65535));
        else if (k == "row" || k == "column") {
            const int n = number(ln, arg(1), 1, MaxLines);
            auto& lines = k == "row" ? s.rowLines : s.columnLines;
            if (w.size() < 3) fail(ln, "'" + k + "' needs a setting");
            applyLineSettings(ln, lines[std::size_t(n - 1)], w, 2);
        } else if (k == "eeprom") {
            if (arg(1) == "absent")
                s.epromPresent = false;
            else if (arg(1) == "present")
                s.epromPresent = true;
            else
                fail(ln, "eeprom is 'present' or 'absent'");
        } else if (k == "checksum") {
            if (arg(1) == "fail")
                s.checksumFailed = true;
            else if (arg(1) == "pass")
                s.checksumFailed = false;
            else
                fail(ln, "checksum is 'pass' or 'fail'");
        } else if (k == "result") {
            if (arg(1) == "none")
                s.answerCommit = false;
            else if (arg(1) == "answer")
                s.answerCommit = true;
            else
                fail(ln, "result is 'answer' or 'none'");
        } else if (k == "missing-block")
            s.blockMissing[std::size_t(number(ln, arg(1), 0, 3))] = true;
        else if (k == "sample-rate")
            s.sampleRate = number(ln, arg(1), 1, 1000);
        else if (k == "round-time")
            s.roundTime = Millis(number(ln, arg(1), 100, 600000));
        else if (k == "noise")
            s.noise = number(ln, arg(1), 0, 200);
        else if (k == "seed")
            s.seed = std::uint32_t(number(ln, arg(1), 0, 0x7FFFFFFF));
        else if (k == "latency")
            s.latency = Millis(number(ln, arg(1), 0, 10000));
        else if (k == "commit-latency")
            s.commitLatency = Millis(number(ln, arg(1), 0, 10000));
        else if (k == "extra-device") {
            s.extraDevice = true;
            s.extraAccessOnly = w.size() > 1 && w[1] == "access-only";
            if (w.size() > 1 && !s.extraAccessOnly)
                fail(ln, "extra-device takes only 'access-only'");
        } else if (k == "at") {
            PlugEvent e;
            e.at = Millis(number(ln, arg(1), 0, 86400000));
            if (arg(2) == "plug")
                e.plugIn = true;
            else if (arg(2) != "unplug")
                fail(ln, "'at' needs 'plug' or 'unplug'");
            e.port = port(ln, arg(3));
            s.events.push_back(e);
        } else if (k == "ids") {
            s.vendorId = std::uint16_t(number(ln, arg(1), 0, 0xFFFF));
            s.productId = std::uint16_t(number(ln, arg(2), 0, 0xFFFF));
        } else
            fail(ln, "unknown setting '" + k + "'");
    }
    return s;
}

Scenario loadScenario(const std::string& path) {
    // Read by hand: a stream opens a folder without complaint and then reads nothing,
    // which would pass for an empty scenario, the default unit.
    const platform::UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) throw ScenarioError("cannot open scenario file " + path + ": " + std::strerror(errno));
    std::string text;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(fd.get(), buf, sizeof buf);
        if (n > 0) {
            text.append(buf, std::size_t(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            const int err = errno;
            throw ScenarioError("cannot read scenario file " + path + ": " + std::strerror(err));
        }
    }
    return parseScenario(text);
}

}  // namespace tc::sim::hid
