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
#include "platform/Files.h"
#include "platform/InstanceLock.h"
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

app::AppPaths resolvePaths(const app::Options& o) {
    if (!o.workdir.empty()) {
        std::filesystem::create_directories(o.workdir);
        std::filesystem::current_path(o.workdir);
        const auto dir = std::filesystem::current_path();
        return {dir, dir};
    }
    return {std::filesystem::current_path(), platform::programDirectory()};
}

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

int runHeadless(int argc, char** argv, const app::Options& o, const sim::hid::Scenario& scenario) {
    QCoreApplication application(argc, argv);
    qt::QtEventLoop loop;
    RunDevices devices = makeDevices(loop, o, scenario);
    app::TForm1 form(loop, *devices.hid, resolvePaths(o),
                     {0, 0, app::kClientWidth, app::kClientHeight}, devices.options);
    app::HeadlessLog log(form.Form1, loop, std::cerr);
    loop.setErrorSink([&](const std::string& e) { log.error(e); });
    bool closed = false;
    auto close = [&] {
        if (closed) return;
        closed = true;
        form.FormClose();
        loop.quit();
    };
    const platform::WatchHandle signals = closeOnSignals(loop, close);
    form.FormCreate();
    loop.dispatch([&] { form.FormShow(); });
    platform::debugOutput("touchcal: ready");
    loop.run();
    close();
    return 0;
}

int runWindow(int argc, char** argv, const app::Options& o, const sim::hid::Scenario& scenario) {
    QApplication application(argc, argv);
    application.setApplicationName("touchcal");
    try {
        qt::QtEventLoop loop;
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
        app::TForm1 form(loop, *devices.hid, resolvePaths(o), host, devices.options);

        qt::FormWindow window(form.Form1, loop);
        // A signal can come while an error box of FormCreate waits, before the loop runs:
        // the box goes, the window closes (FormClose runs) and the start ends there. Errors
        // after that are written out, as nobody is left to close a box.
        bool ending = false;
        loop.setErrorSink([&](const std::string& e) {
            if (ending)
                std::cerr << "touchcal: " << e << '\n';
            else
                window.showError(e);
        });
        const platform::WatchHandle signals = closeOnSignals(loop, [&] {
            if (ending) return;
            ending = true;
            if (auto* box = QApplication::activeModalWidget()) box->close();
            window.close();
        });
        form.FormCreate();
        if (ending) return 0;
        window.show();
        platform::debugOutput("touchcal: ready");
        loop.run();
    } catch (...) {
        // Start-up failed: the operator sees why in the error box (a signal closes it too).
        const std::string text = failureText();
        std::cerr << "touchcal: " << text << '\n';
        qt::showErrorBox(nullptr, text, signalPipe.first.get());
    }
    return 0;
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
    if (o.help) {
        std::cout << app::usageText();
        return 0;
    }
    if (o.version) {
        const auto& v = platform::versionInfo();
        std::cout << v.productName << ' ' << v.fileVersion << " (" << app::kVersionText << ")\n";
        return 0;
    }

    // The virtual controller's unit is part of the command line: one that cannot be read
    // or understood is refused as a bad option is, before anything starts.
    sim::hid::Scenario scenario = sim::hid::defaultScenario();
    if (!o.scenario.empty()) {
        try {
            scenario = sim::hid::loadScenario(o.scenario);
        } catch (const sim::hid::ScenarioError& e) {
            std::cerr << "touchcal: " << e.what() << '\n';
            return 2;
        }
    }

    // Another copy runs already: leave it alone and end quietly. A lock file that cannot be
    // used at all proves no such thing, so that start goes on.
    static platform::InstanceLock lock("RodudOvevezadizeRA");
    if (lock.state() == platform::InstanceLock::State::HeldByAnotherCopy) return 0;
    if (lock.state() == platform::InstanceLock::State::Unavailable)
        std::cerr << "touchcal: cannot take the single-instance lock " << lock.path().string()
                  << ": " << lock.failure() << "; starting anyway\n";

    try {
        if (o.headless) return runHeadless(argc, argv, o, scenario);
        if (!displayPresent()) {
            std::cerr << "touchcal: no display found, running headless\n";
            return runHeadless(argc, argv, o, scenario);
        }
        return runWindow(argc, argv, o, scenario);
    } catch (...) {
        std::cerr << "touchcal: " << failureText() << '\n';
    }
    return 0;
}
