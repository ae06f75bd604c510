#include "label/ProductLabel.h"

#include <algorithm>
#include <stdexcept>

#include "platform/Convert.h"

namespace tc::label {

namespace {

constexpr std::array<std::uint16_t, 256> makeCrcTable() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t c = std::uint16_t(i);
        for (int bit = 0; bit < 8; ++bit) c = (c & 1) ? std::uint16_t((c >> 1) ^ 0xA001) : c >> 1;
        table[i] = c;
    }
    return table;
}

constexpr auto kCrcTable = makeCrcTable();

constexpr platform::Millis kSetupAnswerWait{500};
// The commands whose short answer is logged as a time-out.
constexpr std::size_t kTimedOutCommands = 3;

void checkCount(int count, std::span<const std::uint16_t> min, std::span<const std::uint16_t> max,
                const char* what) {
    if (count < 0 || std::size_t(count) > min.size() || std::size_t(count) > max.size())
        throw std::invalid_argument(std::string(what) + " " + std::to_string(count) +
                                    " is outside the line ranges given");
}

void checkCounts(const LabelValues& v) {
    checkCount(v.rowCount, v.rowMin, v.rowMax, "row count");
    checkCount(v.columnCount, v.colMin, v.colMax, "column count");
}

void appendBigEndian(std::vector<std::uint8_t>& out, std::uint16_t value) {
    out.push_back(std::uint8_t(value >> 8));
    out.push_back(std::uint8_t(value & 0xFF));
}

std::string hex4(std::uint16_t value) {
    return platform::intToHex(value, 4);
}

void appendRanges(std::string& out, int count, std::span<const std::uint16_t> min,
                  std::span<const std::uint16_t> max) {
    for (int i = 0; i < count; ++i) out += hex4(min[i]) + " " + hex4(max[i]) + " ";
}

bool holdsLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

void purge(platform::CommPort& port) {
    port.PurgeRead(true);
    port.PurgeWrite(true);
    port.PurgeRead(false);
    port.PurgeWrite(false);
}

// Clears the running flag however the job ends.
class RunningFlag {
public:
    explicit RunningFlag(bool& flag) : flag_(flag) { flag_ = true; }
    ~RunningFlag() { flag_ = false; }
    RunningFlag(const RunningFlag&) = delete;
    RunningFlag& operator=(const RunningFlag&) = delete;

private:
    bool& flag_;
};

}  // namespace

std::uint16_t ComputeCrc16(std::span<const std::uint8_t> bytes) {
    std::uint16_t crc = 0;
    for (const std::uint8_t b : bytes)
        crc = std::uint16_t((crc >> 8) ^ kCrcTable[(crc ^ b) & 0xFF]);
    return crc;
}

std::vector<std::uint8_t> LineRangeImage(const LabelValues& v) {
    checkCounts(v);
    std::vector<std::uint8_t> image;
    image.reserve(std::size_t(v.rowCount + v.columnCount) * 4);
    for (int i = 0; i < v.rowCount; ++i) {
        appendBigEndian(image, v.rowMin[i]);
        appendBigEndian(image, v.rowMax[i]);
    }
    for (int j = 0; j < v.columnCount; ++j) {
        appendBigEndian(image, v.colMin[j]);
        appendBigEndian(image, v.colMax[j]);
    }
    return image;
}

std::string ProductSerial(const LabelValues& v) {
    return v.machineName + v.date + v.serialNumber;
}

std::string ProductCode(const LabelValues& v) {
    const auto image = LineRangeImage(v);  // checks the counts
    std::string code = ProductSerial(v) + " " + v.customerName + " " + v.modelName + " " +
                       platform::intToStr(v.rowCount) + " " + platform::intToStr(v.columnCount) +
                       " ";
    appendRanges(code, v.rowCount, v.rowMin, v.rowMax);
    appendRanges(code, v.columnCount, v.colMin, v.colMax);
    code += hex4(ComputeCrc16(image));
    return code;
}

std::array<LabelCommand, LabelCommandCount> LabelCommands(const LabelValues& v) {
    const platform::Millis lastWait{std::max(v.lastStepsWaitMs, 0)};
    return {{
        {"BARTYPE \"" + v.printerType + "\"", kSetupAnswerWait},
        {"PP " + v.ppX + "," + v.ppY, kSetupAnswerWait},
        {"BM " + v.bm, kSetupAnswerWait},
        {"PB \"!`" + ProductCode(v) + "#\"", lastWait},
        {"PF", lastWait},
    }};
}

bool LabelAnswerAcknowledged(std::string_view command, std::string_view answer) {
    const std::size_t at = command.size() + 4;
    return answer.size() >= at + 2 && answer[at] == 'O' && answer[at + 1] == 'k';
}

int LabelJob::PrintProductLabel(platform::CommPort& port, const LabelValues& values,
                                LabelJobHooks& hooks) {
    if (running_) {
        hooks.log("Label job already running");
        return 1;
    }
    const auto commands = LabelCommands(values);
    if (std::any_of(commands.begin(), commands.end(),
                    [](const LabelCommand& c) { return holdsLineBreak(c.text); })) {
        hooks.log("Label text holds a line break: not printed");
        return 1;
    }
    const RunningFlag flag(running_);

    purge(port);
    std::string answer;
    for (std::size_t step = 0; step < commands.size(); ++step) {
        const std::string& c = commands[step].text;
        port.Write(c.data(), c.size());
        port.Write("\n", 1);
        hooks.log(c);
        hooks.log("");  // the line feed
        hooks.processMessages();
        hooks.wait(commands[step].answerWait);

        answer.resize(LabelAnswerLimit);
        answer.resize(port.Read(answer.data(), answer.size()));
        if (step < kTimedOutCommands && answer.size() <= c.size() + 4) {
            hooks.log("Comm Port Waiting");
            hooks.log("Comm Port Time Out");
        }
        hooks.log(answer);
        if (!LabelAnswerAcknowledged(c, answer)) return 1;
        purge(port);
    }
    return 0;
}

}  // namespace tc::label
