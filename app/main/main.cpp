// Entry point: one copy per session, then the main window with or without a display.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QCoreApplication>
#include <QScreen>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>

#include "app/CommandLine.h"
#include "app/HeadlessLog.h"
#include "app/MainWindowLayout.h"
#include "app/Unit1.h"
#include "device/ControllerIds.h"
#include "platform/Files.h"
#include "platform/InstanceLock.h"
#include "platform/ServiceNotify.h"
#include "platform/StateDir.h"
#include "platform/UniqueFd.h"
#include "platform/Version.h"
#include "platform/hid/Hidraw.h"
#include "qt/FormWindow.h"
#include "qt/QtEventLoop.h"
#include "sim/hid/Scenario.h"
#include "sim/hid/VirtualController.h"
#include "sim/printer/VirtualLabelPrinter.h"

namespace {

using namespace tc;

// The signal handler writes to the second end; reading the descriptor's number is all it
// does with the object.
platform::FdPair signalPipe;

void onSignal(int) {
    const int saved = errno;
    const char c = 1;
    [[maybe_unused]] auto n = ::write(signalPipe.second.get(), &c, 1);
    errno = saved;
}

// Runs first in main: a SIGTERM or SIGINT that comes while the program starts is noted in a
// pipe and ends it the ordinary way once the loop runs, never by the default action. They
// are unblocked too, as they are the way this program is told to end.
// SIGPIPE is ignored: when whatever reads standard error goes away, a line that cannot be
// written is lost and the program goes on (sockets send with MSG_NOSIGNAL already).
void catchSignals() {
    ::signal(SIGPIPE, SIG_IGN);
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) return;
    signalPipe.first.reset(ends[0]);
    signalPipe.second.reset(ends[1]);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sa.sa_flags = SA_RESTART;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sigset_t ending;
    sigemptyset(&ending);
    sigaddset(&ending, SIGTERM);
    sigaddset(&ending, SIGINT);
    sigprocmask(SIG_UNBLOCK, &ending, nullptr);
}

// The main window closes the ordinary way on those signals, for as long as the handle lives.
[[nodiscard]] platform::WatchHandle closeOnSignals(platform::EventLoop& loop,
                                                   std::function<void()> close) {
    if (!signalPipe.first) return {};
    return loop.watch(signalPipe.first.get(), platform::FdEvent::Read,
                      [close = std::move(close)](platform::FdEvent) {
                          char buf[16];
                          while (::read(signalPipe.first.get(), buf, sizeof buf) > 0) {
                          }
                          close();
                      });
}

bool displayPresent() {
    const char* platformName = std::getenv("QT_QPA_PLATFORM");
    if (platformName && *platformName) return true;
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

// Where this run's files are, and what start-up says about it (nothing, mostly).
struct RunPaths {
    app::AppPaths paths;
    std::string note;
};

// The work folder serves as the current directory and the program's folder.
app::AppPaths enterWorkFolder(const std::filesystem::path& folder) {
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    const auto dir = std::filesystem::current_path();
    return {dir, dir};
}

// --workdir when given; else the current directory and the program's folder, as a copy run
// from a folder of its own has them; else, for an installed copy whose folder it may not
// write, the user's state folder.
RunPaths resolvePaths(const app::Options& o) {
    if (!o.workdir.empty()) return {enterWorkFolder(o.workdir), {}};
    const auto programDir = platform::programDirectory();
    if (platform::folderWritable(programDir))
        return {{std::filesystem::current_path(), programDir}, {}};
    RunPaths r{enterWorkFolder(platform::userStateFolder("touchcal")), {}};
    r.note = "work folder " + r.paths.programDir.string() + " (the program's folder " +
             programDir.string() + " is not writable)";
    return r;
}

const char* const kLampNames[] = {"grey", "red", "green"};

// What the service manager shows for the running program: where the station port listens,
// the lamp and the last station command's result, sent again whenever one changes.
class ServiceStatus : private ui::Observer {
public:
    ServiceStatus(platform::ServiceNotifier& notifier, app::TForm1& form)
        : notifier_(notifier), form_(form) {
        form_.CoolTrayIcon1.addObserver(this);
    }
    ~ServiceStatus() override { form_.CoolTrayIcon1.removeObserver(this); }
    ServiceStatus(const ServiceStatus&) = delete;
    ServiceStatus& operator=(const ServiceStatus&) = delete;

    // READY=1 once the station port listens; a start-up whose port failed stays not ready,
    // so the service manager's start time-out ends it.
    void startUpFinished() {
        if (ready_) return;
        if (!form_.ServerSocket1.Active()) {
            notifier_.status("station port " +
                             form_.ServerSocket1.listenAddress().withPort(
                                 std::uint16_t(form_.ServerSocket1.Port())) +
                             " is not listening");
            return;
        }
        ready_ = true;
        notifier_.ready(text());
    }
    void stationResult(const std::string& result) {
        stationResult_ = app::loggableLine(result);
        if (ready_) notifier_.status(text());
    }

private:
    void changed(ui::Control&, ui::Change) override {
        if (ready_) notifier_.status(text());
    }
    std::string text() const {
        const int i = form_.CoolTrayIcon1.index();
        return "station " +
               form_.ServerSocket1.listenAddress().withPort(form_.ServerSocket1.localPort()) +
               ", lamp " + (i >= 0 && i < 3 ? kLampNames[i] : "?") + ", last station command: " +
               (stationResult_.empty() ? std::string("none") : stationResult_);
    }

    platform::ServiceNotifier& notifier_;
    app::TForm1& form_;
    std::string stationResult_;
    bool ready_ = false;
};

// The window hands the last station command's result to a sink once it has one.
void connectStationResults(app::TForm1& form, ServiceStatus& status) {
    form.setStatusSink([&status](const std::string& r) { status.stationResult(r); });
}

// What both kinds of run share: the service manager and the style of standard error.
struct RunContext {
    platform::ServiceNotifier& notifier;
    app::LogStyle style;
};

// The devices of this run: real ones by default, the virtual ones with --simulate.
struct RunDevices {
    app::DeviceOptions options;
    std::unique_ptr<platform::hid::HidBackend> hid;
    std::unique_ptr<sim::VirtualLabelPrinter> printer;
};

RunDevices makeDevices(platform::EventLoop& loop, const app::Options& o,
                       const sim::hid::Scenario& scenario) {
    RunDevices d;
    if (o.simulate) {
        // Through read threads and hand-overs, as the hardware goes.
        d.hid = sim::hid::makeVirtualController(loop, scenario, sim::hid::Delivery::Threaded);
    } else {
        d.hid = platform::hid::makeHidrawBackend(loop);
    }
    d.options.stationPort = o.port;
    d.options.serialDevice = o.serialDevice;
    if (o.simulate) {
        // The printer answers on a pseudo-terminal; the port is opened for this run
        // whatever the settings file says, and the file is not changed for it.
        d.printer = std::make_unique<sim::VirtualLabelPrinter>();
        d.printer->Start();
        if (d.options.serialDevice.empty()) d.options.serialDevice = d.printer->slavePath();
        d.options.forceCommPortOn = true;
    }
    return d;
}

// The text of what escapes start-up; a thrown object that is no exception has none.
std::string failureText() {
    try {
        throw;
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return {};
    }
}

int runHeadless(int argc, char** argv, const app::Options& o, const sim::hid::Scenario& scenario,
                RunContext& run) {
    QCoreApplication application(argc, argv);
    qt::QtEventLoop loop;
    const platform::TimerHandle watchdog = run.notifier.startWatchdog(loop);
    RunDevices devices = makeDevices(loop, o, scenario);
    const RunPaths paths = resolvePaths(o);
    app::TForm1 form(loop, *devices.hid, paths.paths, {0, 0, app::kClientWidth, app::kClientHeight},
                     devices.options);
    if (o.listen) form.ServerSocket1.setListenAddress(*o.listen);
    app::HeadlessLog log(form.Form1, loop, std::cerr, run.style);
    loop.setErrorSink([&](const std::string& e) { log.error(e); });
    loop.setMessageSink([&](const std::string& m) { log.line("message: " + m); });
    if (!paths.note.empty()) log.line(paths.note);
    ServiceStatus status(run.notifier, form);
    connectStationResults(form, status);
    bool closed = false;
    auto close = [&] {
        if (closed) return;
        closed = true;
        run.notifier.stopping();
        form.FormClose();
        loop.quit();
    };
    const platform::WatchHandle signals = closeOnSignals(loop, close);
    form.FormCreate();
    loop.dispatch([&] { form.FormShow(); });
    status.startUpFinished();
    platform::debugOutput("touchcal: ready");
    loop.run();
    close();
    return 0;
}

int runWindow(int argc, char** argv, const app::Options& o, const sim::hid::Scenario& scenario,
              RunContext& run) {
    QApplication application(argc, argv);
    application.setApplicationName("touchcal");
    try {
        qt::QtEventLoop loop;
        const platform::TimerHandle watchdog = run.notifier.startWatchdog(loop);
        app::HostInfo host;
        if (auto* screen = QGuiApplication::primaryScreen()) {
            host.screenWidth = screen->geometry().width();
            host.screenHeight = screen->geometry().height();
        }
        // The form reports its outer size before its window exists, so the platform is
        // asked what frame such a window gets.
        const QSize outer =
            qt::FormWindow::outerSizeFor(QSize(app::kClientWidth, app::kClientHeight));
        host.outerWidth = outer.width();
        host.outerHeight = outer.height();
        RunDevices devices = makeDevices(loop, o, scenario);
        const RunPaths paths = resolvePaths(o);
        if (!paths.note.empty())
            app::writeProgramLine(std::cerr, run.style, app::LogPriority::Info, paths.note);
        app::TForm1 form(loop, *devices.hid, paths.paths, host, devices.options);
        if (o.listen) form.ServerSocket1.setListenAddress(*o.listen);
        ServiceStatus status(run.notifier, form);
        connectStationResults(form, status);
        // The station port starts listening when the window is first shown.
        form.Form1.onShow = [&, shown = form.Form1.onShow] {
            if (shown) shown();
            status.startUpFinished();
        };

        qt::FormWindow window(form.Form1, loop);
        // The draw-test canvas: hidden until "Draw", never the end of the program.
        qt::FormWindow canvas(form.Form2.Form2, loop);
        loop.setMessageSink([&](const std::string& m) { window.showMessage(m); });
        // A signal can come while an error box of FormCreate waits, before the loop runs:
        // the box goes, the window closes (FormClose runs) and the start ends there. Errors
        // after that are written out, as nobody is left to close a box.
        bool ending = false;
        loop.setErrorSink([&](const std::string& e) {
            if (ending)
                app::writeProgramLine(std::cerr, run.style, app::LogPriority::Error, e);
            else
                window.showError(e);
        });
        const platform::WatchHandle signals = closeOnSignals(loop, [&] {
            if (ending) return;
            ending = true;
            run.notifier.stopping();
            if (auto* box = QApplication::activeModalWidget()) box->close();
            window.close();
        });
        form.FormCreate();
        if (ending) return 0;
        window.show();
        platform::debugOutput("touchcal: ready");
        loop.run();
        run.notifier.stopping();
    } catch (...) {
        // Start-up failed: the operator sees why in the error box (a signal closes it too).
        const std::string text = failureText();
        app::writeProgramLine(std::cerr, run.style, app::LogPriority::Error, text);
        qt::showErrorBox(nullptr, text, signalPipe.first.get());
    }
    return 0;
}

// The controller identifiers of this run: the file given, else the system's file when it
// is there, else the built-in tables. Nothing when a file cannot be used (said on `err`).
bool chooseControllerIds(const app::Options& o, app::LogStyle style) {
    std::string file = o.controllers;
    // One that is there but cannot be looked at is tried, so that its reason is said.
    std::error_code ec;
    if (file.empty() && std::filesystem::status(app::kSystemControllerFile, ec).type() !=
                            std::filesystem::file_type::not_found)
        file = app::kSystemControllerFile;
    if (file.empty()) return true;
    try {
        device::setControllerIds(device::loadControllerIds(file));
        return true;
    } catch (const device::ControllerIdsError& e) {
        app::writeProgramLine(std::cerr, style, app::LogPriority::Error, e.what());
        return false;
    }
}

}  // namespace

int main(int argc, char** argv) {
    catchSignals();
    const std::vector<std::string> args(argv + 1, argv + argc);
    const auto parsed = app::parseCommandLine(args);
    if (!parsed.options) {
        std::cerr << "touchcal: " << parsed.error << '\n' << app::usageText();
        return 2;
    }
    const app::Options& o = *parsed.options;
    const app::LogStyle style = app::standardErrorStyle();
    if (o.help) {
        std::cout << app::usageText();
        return 0;
    }
    if (o.version) {
        const auto& v = platform::versionInfo();
        std::cout << v.productName << ' ' << v.fileVersion << " (" << app::kVersionText << ")\n";
        return 0;
    }

    // A controller file that cannot be read or understood stops the start, as a bad option
    // does: the program would otherwise look for the wrong controller.
    if (!chooseControllerIds(o, style)) return 2;
    if (o.printUdevRule) {
        std::cout << device::udevRule(device::controllerIds());
        return 0;
    }

    // The virtual controller's unit is part of the command line: one that cannot be read
    // or understood is refused as a bad option is, before anything starts.
    sim::hid::Scenario scenario = sim::hid::defaultScenario();
    if (!o.scenario.empty()) {
        try {
            scenario = sim::hid::loadScenario(o.scenario);
        } catch (const sim::hid::ScenarioError& e) {
            app::writeProgramLine(std::cerr, style, app::LogPriority::Error, e.what());
            return 2;
        }
    }

    // Another copy runs already: leave it alone and end quietly. A lock file that cannot be
    // used at all proves no such thing, so that start goes on.
    static platform::InstanceLock lock("RodudOvevezadizeRA");
    if (lock.state() == platform::InstanceLock::State::HeldByAnotherCopy) return 0;
    if (lock.state() == platform::InstanceLock::State::Unavailable)
        app::writeProgramLine(std::cerr, style, app::LogPriority::Warning,
                              "cannot take the single-instance lock " + lock.path().string() +
                                  ": " + lock.failure() + "; starting anyway");

    // Without NOTIFY_SOCKET it tells nobody.
    platform::ServiceNotifier notifier(platform::serviceEnvironment());
    RunContext run{notifier, style};
    try {
        if (o.headless) return runHeadless(argc, argv, o, scenario, run);
        if (!displayPresent()) {
            app::writeProgramLine(std::cerr, style, app::LogPriority::Info,
                                  "no display found, running headless");
            return runHeadless(argc, argv, o, scenario, run);
        }
        return runWindow(argc, argv, o, scenario, run);
    } catch (...) {
        app::writeProgramLine(std::cerr, style, app::LogPriority::Error, failureText());
    }
    return 0;
}
