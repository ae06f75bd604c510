// The unit's bar-code label: its texts (the serial, the bar-code text with the CRC of the
// line ranges, the five printer commands) and the job that sends the commands to the label
// printer one at a time, looking for the printer's "Ok" after each.
//
// The job runs on the main thread and blocks it for its answer waits; it lets pending
// messages run once per command, through its hooks, so a test runs it with a fake port and
// no real time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Calendar.h"
#include "platform/EventLoop.h"
#include "platform/serial/CommPort.h"

namespace tc::label {

// CRC-16/ARC: the reflected polynomial 0x8005 (0xA001), initial value 0, no final inversion.
// "123456789" gives 0xBB3D, no bytes give 0.
std::uint16_t ComputeCrc16(std::span<const std::uint8_t> bytes);

// What the label's texts are made of, as the window holds it at the start of the job.
struct LabelValues {
    std::string machineName = "A";           // the Edit49 text, the machine letter
    std::string date;                        // the `Date` setting, yyyymmdd
    std::string serialNumber;                // `SerialNumber`
    std::string customerName;                // `CustomerName`
    std::string modelName;                   // `ModelName`
    std::string printerType = "DATAMATRIX";  // `PrinterType`
    std::string ppX = "100";                 // the `PP_X` setting
    std::string ppY = "100";                 // the `PP_Y` setting
    std::string bm = "5";                    // the `BM` setting
    // The answer wait of the last two commands (the Edit48 text as a number); a negative
    // value waits 0 ms.
    int lastStepsWaitMs = 1200;
    int rowCount = 0;     // `RowCount`
    int columnCount = 0;  // `ColumnCount`
    // The line ranges; the first rowCount / columnCount values are used.
    std::span<const std::uint16_t> rowMin;
    std::span<const std::uint16_t> rowMax;
    std::span<const std::uint16_t> colMin;
    std::span<const std::uint16_t> colMax;
};

// The functions below that read the line ranges throw std::invalid_argument (nothing
// built) when a count is negative or exceeds the values given.

// Per row line: min high, min low, max high, max low; then the same per column line.
std::vector<std::uint8_t> LineRangeImage(const LabelValues& values);

// Machine letter, date and serial number, without separators.
std::string ProductSerial(const LabelValues& values);

// The bar-code text: ProductSerial, " ", customer, " ", model, " ", rows, " ", columns,
// " ", per row line "MMMM XXXX " and per column line the same (four upper-case hex
// digits each), then the CRC of LineRangeImage as four upper-case hex digits.
std::string ProductCode(const LabelValues& values);

struct LabelCommand {
    std::string text;  // without the line feed that follows it
    platform::Millis answerWait;
};

inline constexpr std::size_t LabelCommandCount = 5;

// BARTYPE "<type>", PP <x>,<y>, BM <bm> (500 ms each); PB "!`<ProductCode>#" and PF (the
// last-steps wait each).
std::array<LabelCommand, LabelCommandCount> LabelCommands(const LabelValues& values);

// Whether `answer` acknowledges `command`: at least L + 6 bytes, "Ok" at offsets L + 4 and
// L + 5 (L the command's length; the printer echoes the command and a gap first).
bool LabelAnswerAcknowledged(std::string_view command, std::string_view answer);

// What the job needs from the window.
class LabelJobHooks {
public:
    virtual ~LabelJobHooks() = default;
    // Adds one line to the running log.
    virtual void log(const std::string& line) = 0;
    // Runs the pending messages once; a nested start of the job may come from here.
    virtual void processMessages() = 0;
    // Blocks for `duration`.
    virtual void wait(platform::Millis duration) = 0;
};

// The window's hooks: the log sink, and the loop's message pass and blocking sleep.
class LoopLabelHooks final : public LabelJobHooks {
public:
    using LogSink = std::function<void(const std::string&)>;
    LoopLabelHooks(platform::EventLoop& loop, LogSink log) : loop_(loop), log_(std::move(log)) {}
    void log(const std::string& line) override { log_(line); }
    void processMessages() override { loop_.processMessages(); }
    void wait(platform::Millis duration) override { loop_.sleep(duration); }

private:
    platform::EventLoop& loop_;
    LogSink log_;
};

// The most the job reads of one answer.
inline constexpr std::size_t LabelAnswerLimit = 2000;

// One label at a time. A start while a job is running (from the message pass of a running
// job) logs "Label job already running" and returns 1 at once without touching the port;
// the running job goes on as before.
class LabelJob {
public:
    // Purges the port, then per command: writes it and then its line feed, logs it and an
    // empty line for the line feed, runs the pending messages once, waits the command's
    // answer wait, reads up to LabelAnswerLimit bytes and logs them as one line. For the
    // first three commands an answer of at most L + 4 bytes logs "Comm Port Waiting" and
    // "Comm Port Time Out" first. An acknowledged command purges the port before the next;
    // the first one not acknowledged returns 1 at once. Returns 0 when all five were.
    //
    // The commands are built once, from `values` as they are at the start. A command
    // holding a line break would reach the printer as two commands: nothing is sent,
    // "Label text holds a line break: not printed" is logged and 1 returned. Throws
    // std::invalid_argument as LabelCommands (before the port is touched).
    int PrintProductLabel(platform::CommPort& port, const LabelValues& values,
                          LabelJobHooks& hooks);

    bool running() const { return running_; }

private:
    bool running_ = false;
};

}  // namespace tc::label
