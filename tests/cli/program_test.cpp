// The program as a process: its command line, one copy per session, a clean end on a
// signal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>

#include "ProcessRunner.h"

using tc::testing::Process;
using namespace std::chrono_literals;

namespace {

struct Program : ::testing::Test {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("touchcal-cli-" + std::to_string(::getpid()));
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "run");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> extraEnv;
    std::vector<std::string> env() const {
        std::vector<std::string> e = {"XDG_RUNTIME_DIR=" + (dir / "run").string(),
                                      "QT_QPA_PLATFORM=offscreen", "PATH=/usr/bin:/bin"};
        e.insert(e.end(), extraEnv.begin(), extraEnv.end());
        return e;
    }
    Process start(std::vector<std::string> args, bool endingSignalsBlocked = false) {
        args.insert(args.begin(), TOUCHCAL_BINARY);
        return Process(args, env(), endingSignalsBlocked);
    }
    Process headless() { return start({"--headless", "--workdir", (dir / "work").string()}); }
    std::vector<std::string> simulatedHeadless() const {
        return {"--headless", "--simulate", "--port", "0", "--workdir", (dir / "work").string()};
    }
};

// Real time, bounded: the program runs in a process of its own.
bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        ::poll(nullptr, 0, 10);
    }
    return true;
}

}  // namespace

TEST_F(Program, CommandLine) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;
        const char* says;
    } cases[] = {
        {{"--bogus"}, 2, "usage: touchcal"},
        {{"--port"}, 2, "usage: touchcal"},
        {{"--port", "70000"}, 2, "--port needs a number"},
        {{"--help"}, 0, "--workdir DIR"},
        {{"--version"}, 0, "V_20091222_SP_6"},
        {{"--scenario", "/nonexistent/unit.scenario"},
         2,
         "touchcal: cannot open scenario file /nonexistent/unit.scenario: No such file"},
        {{"--scenario", dir.string()}, 2, "touchcal: cannot read scenario file"},
    };
    for (const auto& c : cases) {
        auto p = start(c.args);
        EXPECT_EQ(p.wait(10s), c.exitCode) << c.args[0];
        EXPECT_NE(p.output().find(c.says), std::string::npos) << p.output();
    }
}

TEST_F(Program, ASecondCopyEndsAtOnceAndTheFirstRunsOn) {
    auto first = headless();
    ASSERT_TRUE(first.waitForOutput("Open Times : 0", 20s)) << first.output();
    auto second = headless();
    EXPECT_EQ(second.wait(10s), 0);
    EXPECT_EQ(second.output(), "");  // no window, no message
    first.signal(SIGTERM);
    EXPECT_EQ(first.wait(10s), 0);
}

TEST_F(Program, SimulatedRunShowsTheControllerAndThePrinterPortOpens) {
    auto p =
        start({"--simulate", "--headless", "--port", "0", "--workdir", (dir / "work").string()});
    for (const char* line : {" LabelDevice: Device: PlugIn\n", " lamp: red\n",
                             " Label9: ", " Label10: ", " lamp: green\n", " Listen\n"})
        EXPECT_TRUE(p.waitForOutput(line, 20s)) << line << "\n" << p.output();
    EXPECT_EQ(p.output().find("error:"), std::string::npos) << p.output();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
    // The port was opened for this run only: the settings file still says OFF.
    std::ifstream ini(dir / "work" / "Start_Up.ini");
    std::string text((std::istreambuf_iterator<char>(ini)), {});
    EXPECT_NE(text.find("Comm Port : OFF\r\n"), std::string::npos);
}

TEST_F(Program, AKilledCopyDoesNotBlockTheNextStart) {
    {
        auto killed = headless();
        ASSERT_TRUE(killed.waitForOutput("Open Times : 0", 20s));
        killed.signal(SIGKILL);
        EXPECT_EQ(killed.wait(10s), -SIGKILL);
    }
    auto next = headless();
    EXPECT_TRUE(next.waitForOutput("Open Times", 20s)) << next.output();
    next.signal(SIGINT);
    EXPECT_EQ(next.wait(10s), 0);
}

TEST_F(Program, ASignalAtTheVeryStartEndsItTheOrdinaryWay) {
    // The signal is sent before the program's first instruction and waits, blocked, until
    // the program takes it: as early as a signal can come.
    const auto window =
        std::vector<std::string>{"--simulate", "--port", "0", "--workdir", (dir / "work").string()};
    struct Case {
        std::vector<std::string> args;
        int sig;
    } cases[] = {{simulatedHeadless(), SIGTERM},
                 {simulatedHeadless(), SIGINT},
                 {simulatedHeadless(), SIGTERM},
                 {window, SIGTERM},
                 {window, SIGINT}};
    for (const auto& c : cases) {
        auto p = start(c.args, /*endingSignalsBlocked=*/true);
        p.signal(c.sig);
        EXPECT_EQ(p.wait(20s), 0) << strsignal(c.sig) << "\n" << p.output();
    }
}

TEST_F(Program, ALockFileThatCannotBeOpenedIsReportedAndTheStartGoesOn) {
    const auto lock = dir / "run" / "RodudOvevezadizeRA.lock";
    struct Case {
        const char* what;
        std::function<void()> make;
        const char* reason;
    } cases[] = {
        {"a folder", [&] { std::filesystem::create_directory(lock); }, "Is a directory"},
        {"a link to nowhere",
         [&] { std::filesystem::create_symlink(dir / "gone" / "x.lock", lock); },
         "No such file or directory"},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(lock);
        c.make();
        auto p = start(simulatedHeadless());
        EXPECT_TRUE(p.waitForOutput(" lamp: green\n", 20s)) << c.what << "\n" << p.output();
        EXPECT_NE(p.output().find(lock.string() + ": " + c.reason), std::string::npos)
            << c.what << "\n"
            << p.output();
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait(10s), 0) << c.what;
    }
}

TEST_F(Program, LosingTheReaderOfItsOutputEndsNothing) {
    auto p = start(simulatedHeadless());
    p.closeOutput();
    // The default settings file appears while start-up logs its lines into the broken pipe;
    // a signal is taken only once start-up is through, so all of them have been written.
    ASSERT_TRUE(
        eventually([&] { return std::filesystem::exists(dir / "work" / "Start_Up.ini"); }, 20s));
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
}

TEST_F(Program, AFailedStartIsShownInTheErrorBoxWithAWindowAndLoggedWithout) {
    extraEnv = {"TOUCHCAL_DEBUG=1"};
    std::ofstream(dir / "afile") << "not a folder";
    const std::string workdir = (dir / "afile" / "work").string();
    const std::string why = "cannot create directories: Not a directory [" + workdir + "]";
    {
        auto p = start({"--workdir", workdir, "--port", "0"});
        EXPECT_TRUE(p.waitForOutput("error box: filesystem error: " + why, 20s)) << p.output();
        EXPECT_TRUE(p.running());  // the box waits for the operator
        p.signal(SIGTERM);         // or for the program to be told to end
        EXPECT_EQ(p.wait(10s), 0);
    }
    auto p = start({"--headless", "--workdir", workdir, "--port", "0"});
    EXPECT_EQ(p.wait(10s), 0);
    EXPECT_NE(p.output().find("touchcal: filesystem error: " + why), std::string::npos)
        << p.output();
}

TEST_F(Program, ASignalWhileAnErrorBoxOfStartUpWaitsEndsTheRun) {
    {
        auto first = headless();  // writes the default settings file
        ASSERT_TRUE(first.waitForOutput("Open Times : 0", 20s)) << first.output();
        first.signal(SIGTERM);
        ASSERT_EQ(first.wait(10s), 0);
    }
    const auto ini = dir / "work" / "Start_Up.ini";
    std::string text;
    {
        std::ifstream in(ini, std::ios::binary);
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(text.rfind("PORT NO : 1\r\n", 0), 0u);
    std::ofstream(ini, std::ios::binary) << "PORT NO : abc" << text.substr(11);

    extraEnv = {"TOUCHCAL_DEBUG=1"};
    auto p = start({"--workdir", (dir / "work").string(), "--port", "0"});
    ASSERT_TRUE(p.waitForOutput("error box: 'abc' is not a valid integer value", 20s))
        << p.output();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0) << p.output();
}
