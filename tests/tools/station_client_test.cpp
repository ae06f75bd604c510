#include <gtest/gtest.h>
#include <poll.h>

#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"
#include "station/StationProtocol.h"
#include "tools/station/StationClient.h"

using namespace tc::tools;
using tc::station::CommandId;
using tc::station::matchCommand;

namespace {

std::optional<ClientOptions> parse(std::vector<std::string> args) {
    return parseArguments(args).options;
}

std::string parseError(std::vector<std::string> args) {
    const auto r = parseArguments(args);
    EXPECT_FALSE(r.options.has_value());
    return r.error;
}

}  // namespace

TEST(StationClientArguments, OptionsAndCommands) {
    const auto defaults = parse({"Ping"});
    ASSERT_TRUE(defaults);
    EXPECT_EQ(defaults->host, "127.0.0.1");
    EXPECT_EQ(defaults->port, 10000);
    EXPECT_EQ(defaults->timeout, Millis(10000));
    EXPECT_EQ(defaults->roundWait, Millis(2500));
    EXPECT_FALSE(defaults->cycle);
    EXPECT_EQ(defaults->commands, std::vector<std::string>{"Ping"});

    const auto all = parse({"--host", "::1", "--port=10001", "--timeout", "50", "--quiet", "7",
                            "SetVender A B", "Ping\r\n", "--", "--help"});
    ASSERT_TRUE(all);
    EXPECT_EQ(all->host, "::1");
    EXPECT_EQ(all->port, 10001);
    EXPECT_EQ(all->timeout, Millis(50));
    EXPECT_EQ(all->quiet, Millis(7));
    // Commands keep their bytes; after "--" nothing is an option.
    EXPECT_EQ(all->commands, (std::vector<std::string>{"SetVender A B", "Ping\r\n", "--help"}));

    const auto cycle = parse({"--cycle", "--round-wait", "0"});
    ASSERT_TRUE(cycle);
    EXPECT_TRUE(cycle->cycle);
    EXPECT_EQ(cycle->roundWait, Millis(0));

    // --help answers whatever follows it.
    EXPECT_TRUE(parse({"Ping", "--help", "--port", "nonsense"})->help);
}

TEST(StationClientArguments, BadCommandLinesSayWhy) {
    const struct {
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {{}, "nothing to send"},
        {{"--port", "10000"}, "nothing to send"},
        {{"--cycle", "Ping"}, "either --cycle or COMMAND"},
        {{"--port", "0", "Ping"}, "--port takes a number from 1 to 65535, not '0'"},
        {{"--port", "65536", "Ping"}, "not '65536'"},
        {{"--port", " 1", "Ping"}, "not ' 1'"},
        {{"--timeout", "0", "Ping"}, "--timeout takes milliseconds from 1"},
        {{"--timeout", "-5", "Ping"}, "not '-5'"},
        {{"--round-wait", "1x", "--cycle"}, "not '1x'"},
        {{"Ping", "--timeout"}, "--timeout needs a value"},
        {{"--host", "", "Ping"}, "--host needs a host name"},
        {{"--verbose", "Ping"}, "unknown option '--verbose'"},
        {{"--cycles"}, "unknown option '--cycles'"},
        {{""}, "an empty command cannot be sent"},
    };
    for (const auto& c : cases) {
        const std::string error = parseError(c.args);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

TEST(StationClientReplies, WordsBackToBackSplitIntoThoseWords) {
    const auto all = tc::station::allReplyWords();
    for (const auto a : all)
        for (const auto b : all) {
            const auto words = splitReplyWords(std::string(a) + std::string(b));
            ASSERT_TRUE(words.has_value()) << a << b;
            EXPECT_EQ(*words, (std::vector<std::string_view>{a, b}));
        }
    EXPECT_FALSE(splitReplyWords("").has_value());
    EXPECT_FALSE(splitReplyWords("ACME").has_value());
    EXPECT_FALSE(splitReplyWords("DATA_NGROM_").has_value());
    EXPECT_FALSE(splitReplyWords("OK\r\n").has_value());
}

TEST(StationClientReplies, ReadingAndJudgingWhatArrived) {
    const struct {
        std::string command, received;
        bool settled;
        bool complete;
        std::string reply;  // when complete
        ReplyStatus status;
        std::vector<std::string> others;
    } cases[] = {
        {"Ping", "", true, false, "", {}, {}},
        {"Ping", "OK", false, true, "OK", ReplyStatus::Good, {}},
        {"HIDUnplug", "HID_UNPLUGGED", false, true, "HID_UNPLUGGED", ReplyStatus::Good, {}},
        {"DrawFinished", "DATA_NG", false, true, "DATA_NG", ReplyStatus::Failed, {}},
        {"ReadyToAcquire", "NO_DEVICE", false, true, "NO_DEVICE", ReplyStatus::Failed, {}},
        {"WriteROM", "DATA_NG", false, true, "DATA_NG", ReplyStatus::Failed, {}},
        {"WriteROM", "ROM_OK", false, true, "ROM_OK", ReplyStatus::Good, {}},
        {"SetVender", "VENDER_NAME_NG", false, true, "VENDER_NAME_NG", ReplyStatus::Failed, {}},
        {"Ping\n", "UNKNOWED_COMMAND", false, true, "UNKNOWED_COMMAND", ReplyStatus::Failed, {}},
        // "ReportError" answers; its words are no failure.
        {"ReportError", "ERR_NOTCOMPLETE", false, true, "ERR_NOTCOMPLETE", ReplyStatus::Good, {}},
        // A word that begins a longer one waits for the quiet gap.
        {"ReportError", "ERR_PRINT", false, false, "", {}, {}},
        {"ReportError", "ERR_PRINT", true, true, "ERR_PRINT", ReplyStatus::Good, {}},
        {"ReportError", "ERR_PRINTER_TYPE", false, true, "ERR_PRINTER_TYPE", ReplyStatus::Good, {}},
        // A late reply of an earlier command is not this one's and keeps it waiting.
        {"ReportError", "ROM_NG", true, false, "", {}, {}},
        {"ReportError", "ROM_NGERR_DATA", false, true, "ERR_DATA", ReplyStatus::Good, {"ROM_NG"}},
        {"Ping", "READY", true, false, "", {}, {}},
        // Bytes that are no word end at the quiet gap and are not a reply.
        {"Ping", "garbage", false, false, "", {}, {}},
        {"Ping", "garbage", true, true, "garbage", ReplyStatus::Unexpected, {}},
        // A text reply is whatever came until the bytes stopped, words included.
        {"GetVender", "AC", false, false, "", {}, {}},
        {"GetVender", "ACME", true, true, "ACME", ReplyStatus::Good, {}},
        {"GetModel", "OK", true, true, "OK", ReplyStatus::Good, {}},
        {"OpenShortData",
         "Row 0 open\r\nCol 3 short\r\n",
         true,
         true,
         "Row 0 open\r\nCol 3 short\r\n",
         ReplyStatus::Good,
         {}},
        // A text the program does not know: its word is the reply; anything else is fine.
        {"Foo", "UNKNOWED_COMMAND", false, true, "UNKNOWED_COMMAND", ReplyStatus::Failed, {}},
        {"Foo", "something", true, true, "something", ReplyStatus::Good, {}},
    };
    for (const auto& c : cases) {
        const CommandId id = matchCommand(c.command);
        const ReplyReading r = readReply(id, c.received, c.settled);
        const std::string what = c.command + " <- " + c.received;
        EXPECT_EQ(r.complete, c.complete) << what;
        if (!r.complete || !c.complete) continue;
        EXPECT_EQ(r.reply, c.reply) << what;
        EXPECT_EQ(r.others, c.others) << what;
        EXPECT_EQ(judgeReply(id, r), c.status) << what;
    }
}

namespace {

// A stand-in for the program: one connection, each received text answered from a script.
struct FakeProgram {
    struct Step {
        std::string send;  // sent as it is (nothing: no bytes)
        int pauseMs = 0;   // before sending
        bool close = false;
    };
    std::map<std::string, std::vector<Step>> script;

    tc::platform::net::TcpListener listener = tc::platform::net::TcpListener::bindAny(0);
    std::thread thread;
    std::atomic<bool> stop{false};
    std::mutex m;
    std::vector<std::string> heard;

    void start() {
        listener.listen(5);
        thread = std::thread([this] { serve(); });
    }
    ~FakeProgram() {
        stop = true;
        if (thread.joinable()) thread.join();
    }
    std::uint16_t port() const { return listener.localPort(); }
    std::vector<std::string> commands() {
        std::lock_guard lock(m);
        return heard;
    }

    bool wait(int fd) {
        while (!stop) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20) == 1) return true;
        }
        return false;
    }

    void serve() {
        if (!wait(listener.fd())) return;
        auto stream = listener.accept();
        if (!stream) return;
        char buf[4096];
        while (wait(stream->fd())) {
            const auto r = stream->receive(buf);
            if (r.status == tc::platform::net::IoStatus::WouldBlock) continue;
            if (r.status != tc::platform::net::IoStatus::Done) return;
            const std::string text(buf, r.bytes);
            {
                std::lock_guard lock(m);
                heard.push_back(text);
            }
            const auto steps = script.find(text);
            if (steps == script.end()) continue;
            for (const auto& s : steps->second) {
                std::this_thread::sleep_for(std::chrono::milliseconds(s.pauseMs));
                if (s.close) return;
                if (!s.send.empty()) stream->send(s.send);
            }
        }
    }
};

struct ClientRun {
    int status;
    std::string out, err;
};

ClientRun run(std::vector<std::string> args) {
    std::ostringstream out, err;
    const int status = stationMain(args, out, err);
    return {status, out.str(), err.str()};
}

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(StationClientRun, CommandsAreSentAsTheyAreAndEachReplyJudged) {
    FakeProgram p;
    p.script = {{"Ping", {{"OK"}}},
                {"DrawFinished", {{"DATA_NG"}}},
                {"ReportError", {{"ERR_NOTCOMPLETE"}}},
                {"GetVender", {{"AC"}, {"ME", 5}}}};
    p.start();
    const auto port = std::to_string(p.port());
    const ClientRun r =
        run({"--port", port, "--quiet", "150", "Ping", "GetVender", "DrawFinished", "ReportError"});
    EXPECT_EQ(r.status, ExitFailed) << r.out << r.err;
    EXPECT_EQ(p.commands(),
              (std::vector<std::string>{"Ping", "GetVender", "DrawFinished", "ReportError"}));
    EXPECT_TRUE(has(r.out, " > Ping\n")) << r.out;
    EXPECT_TRUE(has(r.out, " < OK (")) << r.out;
    EXPECT_TRUE(has(r.out, " < ACME (")) << r.out;  // one reply from two segments
    EXPECT_TRUE(has(r.out, " < DATA_NG (")) << r.out;
    EXPECT_TRUE(has(r.out, " ms) failed\n")) << r.out;
    EXPECT_TRUE(has(r.out, " < ERR_NOTCOMPLETE (")) << r.out;

    EXPECT_EQ(run({"--port", port, "--help"}).status, ExitOk);
    EXPECT_EQ(run({"--port", port, "--port"}).status, ExitUsage);
}

TEST(StationClientRun, NoReplyInTimeEndsTheRunWithItsOwnStatus) {
    FakeProgram p;
    p.script = {{"Ping", {{"OK"}}}};
    p.start();
    const auto start = std::chrono::steady_clock::now();
    const ClientRun r =
        run({"--port", std::to_string(p.port()), "--timeout", "150", "WriteBarCode", "Ping"});
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150));
    EXPECT_EQ(r.status, ExitTimedOut) << r.out << r.err;
    EXPECT_TRUE(has(r.err, "no reply to WriteBarCode within 150 ms")) << r.err;
    // A reply still on its way would be taken for the next command's: nothing more is sent.
    EXPECT_EQ(p.commands(), std::vector<std::string>{"WriteBarCode"});
}

TEST(StationClientRun, LateRepliesAreShownAndNotTakenForTheNextCommand) {
    FakeProgram p;
    // Judgement fails at once; the ROM time-out's word follows.
    p.script = {{"WriteROM", {{"DATA_NG"}, {"ROM_NG", 30}}}, {"ReportError", {{"ERR_DATA"}}}};
    p.start();
    const ClientRun r = run({"--port", std::to_string(p.port()), "WriteROM", "ReportError"});
    EXPECT_EQ(r.status, ExitFailed) << r.out << r.err;
    EXPECT_TRUE(has(r.out, " < DATA_NG (")) << r.out;
    EXPECT_TRUE(has(r.out, "ROM_NG")) << r.out;
    EXPECT_TRUE(has(r.out, " < ERR_DATA (")) << r.out;
}

TEST(StationClientRun, ConnectionProblemsHaveTheirStatus) {
    std::uint16_t closedPort;
    {
        auto l = tc::platform::net::TcpListener::bindAny(0);
        closedPort = l.localPort();
    }
    const ClientRun refused = run({"--port", std::to_string(closedPort), "Ping"});
    EXPECT_EQ(refused.status, ExitConnection);
    EXPECT_TRUE(has(refused.err, "cannot connect to 127.0.0.1:" + std::to_string(closedPort)))
        << refused.err;

    FakeProgram p;
    p.script = {{"HIDUnplug", {{"", 0, true}}}};
    p.start();
    const ClientRun closed = run({"--port", std::to_string(p.port()), "HIDUnplug", "Ping"});
    EXPECT_EQ(closed.status, ExitConnection) << closed.out << closed.err;
    EXPECT_TRUE(has(closed.err, "closed the connection before HIDUnplug was answered"))
        << closed.err;
}

TEST(StationClientRun, CycleRunsTheUnitAndAsksForTheErrorAfterAFailure) {
    const struct {
        std::map<std::string, std::vector<FakeProgram::Step>> script;
        int status;
        std::vector<std::string> sent;
        std::string last;
    } cases[] = {
        {{{"ReadyToAcquire", {{"READY", 20}}},
          {"DrawFinished", {{"DATA_OK"}}},
          {"WriteROM", {{"ROM_OK", 10}}},
          {"WriteBarCode", {{"BARCODE_OK"}}},
          {"ReportError", {{"NONE"}}}},
         ExitOk,
         {"ReadyToAcquire", "DrawFinished", "WriteROM", "WriteBarCode", "ReportError"},
         "cycle passed"},
        {{{"ReadyToAcquire", {{"READY"}}},
          {"DrawFinished", {{"DATA_NG"}}},
          {"ReportError", {{"ERR_NOTCOMPLETE"}}}},
         ExitFailed,
         {"ReadyToAcquire", "DrawFinished", "ReportError"},
         "cycle failed at DrawFinished (expected DATA_OK)"},
        // No ROM result at all within the time-out.
        {{{"ReadyToAcquire", {{"READY"}}},
          {"DrawFinished", {{"DATA_OK"}}},
          {"ReportError", {{"NONE"}}}},
         ExitTimedOut,
         {"ReadyToAcquire", "DrawFinished", "WriteROM", "ReportError"},
         "cycle failed at WriteROM (expected ROM_OK)"},
        {{{"ReadyToAcquire", {{"NO_DEVICE"}}}, {"ReportError", {{"ERR_NO_DEVICE"}}}},
         ExitFailed,
         {"ReadyToAcquire", "ReportError"},
         "cycle failed at ReadyToAcquire (expected READY)"},
    };
    for (const auto& c : cases) {
        FakeProgram p;
        p.script = c.script;
        p.start();
        const ClientRun r = run({"--port", std::to_string(p.port()), "--timeout", "300",
                                 "--round-wait", "0", "--cycle"});
        EXPECT_EQ(r.status, c.status) << r.out << r.err;
        EXPECT_EQ(p.commands(), c.sent) << r.out;
        EXPECT_TRUE(has(r.out, " " + c.last + "\n")) << r.out;
        // The pen round comes only after READY.
        EXPECT_EQ(has(r.out, "waiting 0 ms for the pen round"), c.sent.size() > 2) << r.out;
    }
}
