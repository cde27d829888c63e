// Start-up and settings-load times of the main window against the emulated unit.
// Prints one line per figure; run with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QPushButton>
#include <QStatusBar>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "emulator/hidapi/emulated_hidapi.h"
#include "gui/mainwindow.h"
#include "tests/window_wait.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Figures {
    double median;
    double max;
};

Figures summarise(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    return {samples[samples.size() / 2], samples.back()};
}

struct StartUp {
    double shown;  // construction up to the first painted frame, in ms
    double ready;  // ... up to the end of the connection attempt and the first load
};

StartUp timeStartUp() {
    const auto start = Clock::now();
    auto window = std::make_unique<MainWindow>();
    window->show();
    QApplication::processEvents();
    const double shown = ms(Clock::now() - start);
    waitForConnectionAttempt(window.get());
    return {shown, ms(Clock::now() - start)};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    constexpr int kStartRuns = 5;
    constexpr int kLoadRuns = 20;

    // Stdout carries the protocol's own lines; the figures go to stderr.
    isolateWindowSettings();
    std::vector<double> noUnit;
    std::vector<double> noUnitReady;
    for (int i = 0; i < kStartRuns; ++i) {
        emu_hid::reset();
        emu_hid::set_interfaces({});
        const StartUp t = timeStartUp();
        noUnit.push_back(t.shown);
        noUnitReady.push_back(t.ready);
    }
    std::vector<double> withUnit;
    std::vector<double> withUnitReady;
    for (int i = 0; i < kStartRuns; ++i) {
        emu_hid::reset();
        const StartUp t = timeStartUp();
        withUnit.push_back(t.shown);
        withUnitReady.push_back(t.ready);
    }

    emu_hid::reset();
    MainWindow window;
    window.show();
    waitForConnectionAttempt(&window);
    auto* load = window.findChild<QPushButton*>(QStringLiteral("pushButton_load"));
    std::vector<double> loads;
    for (int i = 0; i < kLoadRuns; ++i) {
        const auto start = Clock::now();
        load->click();
        loads.push_back(ms(Clock::now() - start));
    }
    const bool loaded = window.statusBar()->currentMessage() ==
                        QStringLiteral("Configuration successfully loaded from device");

    const Figures a = summarise(noUnit);
    const Figures b = summarise(withUnit);
    const Figures c = summarise(loads);
    const Figures d = summarise(noUnitReady);
    const Figures e = summarise(withUnitReady);
    std::fprintf(stderr, "shown, no unit:       median %7.1f ms, max %7.1f ms\n", a.median, a.max);
    std::fprintf(stderr, "shown, with unit:     median %7.1f ms, max %7.1f ms\n", b.median, b.max);
    std::fprintf(stderr,
                 "no unit found:        median %7.1f ms, max %7.1f ms (100 ms pause included)\n",
                 d.median, d.max);
    std::fprintf(stderr,
                 "unit loaded:          median %7.1f ms, max %7.1f ms (handshake and load)\n",
                 e.median, e.max);
    std::fprintf(stderr, "full load (40 reads): median %7.1f ms, max %7.1f ms (36 ms of pauses)\n",
                 c.median, c.max);
    std::fprintf(stderr, "last load status ok:  %s\n", loaded ? "yes" : "no");
    return loaded ? 0 : 1;
}
