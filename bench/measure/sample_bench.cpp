// What one test sample costs the main thread at the largest line counts (30 x 30): the
// report handler filing it, then the idle pass that lowers or raises the extremes, redraws
// the picture and rewrites all 60 line texts. Once on the models alone (headless), once with
// the Qt window painting every drawing operation; and one repaint of the picture on screen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QWidget>

#include <unistd.h>
#include <filesystem>

#include "app/Unit1.h"
#include "platform/VirtualEventLoop.h"
#include "qt/FormWindow.h"
#include "sim/hid/VirtualController.h"

using namespace tc;

namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "bench";
    static char* argv[] = {name, nullptr};
    static auto* app = new QApplication(argc, argv);
    return *app;
}

struct Rig {
    platform::VirtualEventLoop loop;
    sim::hid::VirtualController hid{loop, sim::hid::defaultScenario()};
    std::filesystem::path dir;
    std::unique_ptr<app::TForm1> form;
    std::unique_ptr<qt::FormWindow> window;
    std::vector<std::vector<std::uint8_t>> samples;

    explicit Rig(bool withWindow) {
        dir = std::filesystem::temp_directory_path() /
              ("touchcal-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(dir);
        loop.setErrorSink([](const std::string&) {});
        form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{dir, dir}, app::HostInfo{},
                                             app::DeviceOptions{0, "", false});
        form->FormCreate();  // the default settings: 30 x 30 lines
        loop.runPending();
        if (withWindow) {
            application();
            window = std::make_unique<qt::FormWindow>(form->Form1, loop, false);
            window->show();
            QApplication::processEvents();
        }
        // A pen going round the edges of a 30 x 30 panel; every sample touches an edge.
        for (int k = 0; k < 116; ++k) {
            int p = 1, q = 1;
            if (k < 30)
                p = 1, q = k + 1;
            else if (k < 59)
                p = k - 28, q = 30;
            else if (k < 88)
                p = 30, q = 88 - k;
            else
                p = 116 - k, q = 1;
            const auto x = std::uint16_t(150 + 2700 * (p - 1) / 29 + k % 7);
            const auto y = std::uint16_t(2850 - 2700 * (q - 1) / 29 + k % 5);
            samples.push_back({0x22, 1, std::uint8_t(p), std::uint8_t(q), std::uint8_t(x & 0xFF),
                               std::uint8_t(x >> 8), std::uint8_t(y & 0xFF), std::uint8_t(y >> 8)});
        }
    }
    ~Rig() {
        window.reset();
        form.reset();
        std::filesystem::remove_all(dir);
    }
    void sample(std::size_t k) {
        const auto& s = samples[k % samples.size()];
        form->Link.HidCtrlDeviceData(*form->Link.DataDevice(), 0, s);
        form->ProcessTestSample();
    }
};

void BM_SampleHeadless(benchmark::State& state) {
    Rig rig(false);
    std::size_t k = 0;
    for (auto _ : state) rig.sample(k++);
    state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_SampleHeadless)->Unit(benchmark::kMicrosecond);

void BM_SampleWithWindow(benchmark::State& state) {
    Rig rig(true);
    std::size_t k = 0;
    for (auto _ : state) rig.sample(k++);
    state.SetItemsProcessed(std::int64_t(state.iterations()));
}
BENCHMARK(BM_SampleWithWindow)->Unit(benchmark::kMicrosecond);

// The picture put on screen: what the window does when it gets round to painting.
void BM_ImageRepaint(benchmark::State& state) {
    Rig rig(true);
    rig.sample(0);
    QWidget* image = rig.window->widgetFor("Image1");
    for (auto _ : state) {
        image->repaint();
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ImageRepaint)->Unit(benchmark::kMicrosecond);

// A frame after a sample: the rebuilt picture drawn onto the bitmap and put on screen.
void BM_SampleAndRepaint(benchmark::State& state) {
    Rig rig(true);
    QWidget* image = rig.window->widgetFor("Image1");
    std::size_t k = 0;
    for (auto _ : state) {
        rig.sample(k++);
        image->repaint();
    }
}
BENCHMARK(BM_SampleAndRepaint)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
