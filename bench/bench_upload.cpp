// Uploads through a real main window to the emulated unit and prints what they cost: a
// 4 MiB firmware image and a 54 525 952-byte airport database with no modelled latency, and
// the 4 MiB image again with a 1 ms round trip per frame. Figures, not a test.
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "mainwindow.h"

namespace {

constexpr uint32_t kImageSize = 4u * 1024u * 1024u;
constexpr uint32_t kAirportSize = 54525952u;
constexpr double kPacketPauseUs = 100.0;

// Resident set figures of this process, in KiB.
struct Memory {
    long rss_kib = -1;
    long hwm_kib = -1;
};

Memory read_memory() {
    Memory m;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            m.rss_kib = std::strtol(line.c_str() + 6, nullptr, 10);
        } else if (line.rfind("VmHWM:", 0) == 0) {
            m.hwm_kib = std::strtol(line.c_str() + 6, nullptr, 10);
        }
    }
    return m;
}

// Written in 1 MiB pieces, so that making the file costs no memory of its size.
bool write_random_file(const std::string& path, uint32_t size, bool with_header) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    std::mt19937 gen(size);
    std::vector<uint8_t> chunk(1024 * 1024);
    uint32_t left = size;
    bool ok = true;
    if (with_header) {
        firmware_header_t h;
        std::memset(&h, 0, sizeof h);
        h.magic = 0x4657494Du;
        h.total_size = size;
        h.encrypted_size = size - static_cast<uint32_t>(sizeof h);
        h.plaintext_size = h.encrypted_size;
        ok = std::fwrite(&h, sizeof h, 1, f) == 1;
        left -= static_cast<uint32_t>(sizeof h);
    }
    while (ok && left > 0) {
        const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
        for (uint32_t i = 0; i < n; ++i) {
            chunk[i] = static_cast<uint8_t>(gen());
        }
        ok = std::fwrite(chunk.data(), 1, n, f) == n;
        left -= n;
    }
    return std::fclose(f) == 0 && ok;
}

// Types the path into the dialog's name box, as a user would, and accepts it.
void enter_file_name(QFileDialog* dialog, const QString& path) {
    auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    if (name != nullptr) {
        name->setText(path);
    } else {
        dialog->selectFile(path);
    }
    static_cast<QDialog*>(dialog)->accept();
}

struct RunFigures {
    double seconds = 0;
    uint32_t posts = 0;
    double max_gap_ms = 0;
    bool completed = false;
};

class UploadDriver {
public:
    explicit UploadDriver(MainWindow* window) : window_(window) {
        QObject::connect(window_->statusBar(), &QStatusBar::messageChanged,
                         [this](const QString& m) {
                             if (m.startsWith(QStringLiteral("Erasing")) ||
                                 m.startsWith(QStringLiteral("Uploading"))) {
                                 ++posts_;
                             }
                             last_message_ = m;
                         });
    }

    // Chooses `path` through the tab's file dialog, starts the upload and runs the event loop
    // until the tab's controls come back, measuring the loop's longest gap on the way.
    RunFigures run(const char* browse, const char* start, const QString& path,
                   const QString& success_text) {
        choose(browse, path);
        RunFigures r;
        posts_ = 0;
        QElapsedTimer since_tick;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout, [&]() {
            r.max_gap_ms = std::max(r.max_gap_ms, since_tick.nsecsElapsed() / 1e6);
            since_tick.restart();
            // The emulator logs every frame for tests; keep its logs from growing here.
            emu_hid::clear_output_reports();
            emu_hid::unit().clear_received();
        });
        QPushButton* browse_button = window_->findChild<QPushButton*>(QString::fromLatin1(browse));
        QElapsedTimer wall;
        wall.start();
        since_tick.start();
        ticker.start();
        window_->findChild<QPushButton*>(QString::fromLatin1(start))->click();
        while (!browse_button->isEnabled()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
        }
        ticker.stop();
        r.seconds = static_cast<double>(wall.nsecsElapsed()) / 1e9;
        r.posts = posts_;
        r.completed = last_message_ == success_text;
        if (!r.completed) {
            std::printf("upload ended with: %s\n", qPrintable(last_message_));
        }
        return r;
    }

private:
    // Answers the dialog on every tick while it stays up.
    void choose(const char* browse, const QString& path) {
        QTimer poll;
        poll.setInterval(10);
        QObject::connect(&poll, &QTimer::timeout, [&]() {
            for (QWidget* w : QApplication::topLevelWidgets()) {
                auto* dialog = qobject_cast<QFileDialog*>(w);
                if (dialog != nullptr && dialog->isVisible()) {
                    enter_file_name(dialog, path);
                    return;
                }
            }
        });
        poll.start();
        window_->findChild<QPushButton*>(QString::fromLatin1(browse))->click();
    }

    MainWindow* window_;
    uint32_t posts_ = 0;
    QString last_message_;
};

void print_run(const char* name, const RunFigures& r, uint32_t bytes, uint32_t packets) {
    std::printf(
        "%s: %.2f s, %.1f KiB/s, %u packets, %.1f us/packet, %u progress posts (%.1f/s), "
        "longest event loop gap %.1f ms%s\n",
        name, r.seconds, bytes / 1024.0 / r.seconds, packets, r.seconds * 1e6 / packets, r.posts,
        r.posts / r.seconds, r.max_gap_ms, r.completed ? "" : " (UPLOAD FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::string dir = "/tmp/efis-bench-upload-" + std::to_string(getpid());
    const std::string image_path = dir + "-image.bin";
    const std::string airport_path = dir + "-airports.db";
    if (!write_random_file(image_path, kImageSize, true) ||
        !write_random_file(airport_path, kAirportSize, false)) {
        std::fprintf(stderr, "cannot write the upload files\n");
        return 1;
    }
    // Data packets after the header, whose write is one more.
    const uint32_t image_packets = (kImageSize - 64) / 64 + 1;
    const uint32_t airport_packets = kAirportSize / 64;

    emu_hid::reset();
    auto* window = new MainWindow();
    UploadDriver driver(window);
    const QString image = QString::fromStdString(image_path);
    const QString airports = QString::fromStdString(airport_path);
    const QString fw_done = QStringLiteral("Firmware update completed");
    const QString db_done = QStringLiteral("Airport database transfer finished");

    std::fflush(stdout);
    const RunFigures fw0 =
        driver.run("pushButton_browse", "pushButton_start_update", image, fw_done);
    print_run("firmware 4 MiB, 0 ms", fw0, kImageSize, image_packets);

    // The emulated flash stores written sectors only; filling the airport region first keeps
    // its storage out of the growth measured over the run (the upload erases and rewrites it).
    {
        const std::vector<uint8_t> filled(1024 * 1024, 0x5A);
        for (uint32_t at = 0; at < kAirportSize; at += static_cast<uint32_t>(filled.size())) {
            emu_hid::unit().flash_fill(at, filled);
        }
    }
    const Memory before = read_memory();
    const RunFigures db0 =
        driver.run("pushButton_browse_airports", "pushButton_start_airport", airports, db_done);
    const Memory after = read_memory();
    print_run("airport 54 525 952 B, 0 ms", db0, kAirportSize, airport_packets);

    emu_hid::set_latency_us(1000);
    const RunFigures fw1 =
        driver.run("pushButton_browse", "pushButton_start_update", image, fw_done);
    print_run("firmware 4 MiB, 1 ms round trip", fw1, kImageSize, image_packets);
    emu_hid::set_latency_us(0);

    delete window;
    std::remove(image_path.c_str());
    std::remove(airport_path.c_str());

    const double bound_s = image_packets * (1000.0 + kPacketPauseUs) / 1e6;
    const double ratio = bound_s / fw1.seconds;
    const double tool_us = fw0.seconds * 1e6 / image_packets - kPacketPauseUs;
    const long rss_growth = after.rss_kib - before.rss_kib;
    const long peak_growth = after.hwm_kib - before.rss_kib;
    const double posts_per_second =
        std::max({fw0.posts / fw0.seconds, db0.posts / db0.seconds, fw1.posts / fw1.seconds});
    const double max_block = std::max({fw0.max_gap_ms, db0.max_gap_ms, fw1.max_gap_ms}) - 10.0;
    std::printf("bound at 1 ms: %.2f s for %u packets; achieved %.2f s\n", bound_s, image_packets,
                fw1.seconds);
    std::printf(
        "resident memory around the airport run: VmRSS %ld -> %ld KiB, VmHWM %ld -> %ld KiB\n",
        before.rss_kib, after.rss_kib, before.hwm_kib, after.hwm_kib);
    std::printf("peak growth over the airport run: %ld KiB\n", peak_growth);
    std::printf("event loop blocked = longest gap between 10 ms timer ticks minus 10 ms\n");

    std::printf("fw_4mib_1ms_ratio_to_bound: %.3f\n", ratio);
    std::printf("fw_4mib_0ms_tool_us_per_packet: %.1f\n", tool_us);
    std::printf("airport_54mb_0ms_rss_growth_kib: %ld\n", rss_growth);
    std::printf("progress_posts_per_second: %.1f\n", posts_per_second);
    std::printf("max_event_loop_block_ms: %.1f\n", std::max(0.0, max_block));
    return fw0.completed && db0.completed && fw1.completed ? 0 : 1;
}
