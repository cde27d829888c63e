// Uploads through a real main window to the emulated unit and prints what they cost: a
// 4 MiB firmware image and a 54 525 952-byte airport database with no modelled latency, and
// the 4 MiB image again with a 1 ms round trip per frame. Figures, not a test. The airport
// run keeps the unit's flash in checking mode (CRCs instead of bytes), so that its memory
// figure is the tool's own.
#include <unistd.h>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "EFIS_shared/firmware.h"
#include "EFIS_shared/mem_layout.h"
#include "emulator/crc32.h"
#include "emulator/hidapi/emulated_hidapi.h"
#include "gui/mainwindow.h"
#include "tests/window_wait.h"

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

// Sets the process's peak resident figure (VmHWM) back to its present one; false where the
// kernel does not offer that.
bool reset_peak_memory() {
    std::ofstream clear_refs("/proc/self/clear_refs");
    clear_refs << "5";
    clear_refs.flush();
    return static_cast<bool>(clear_refs);
}

// Written in 1 MiB pieces, so that making the file costs no memory of its size; `crc` gets
// the CRC-32 of the whole file.
bool write_random_file(const std::string& path, uint32_t size, bool with_header, uint32_t* crc) {
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
        *crc = emu::crc32_update(*crc, reinterpret_cast<const uint8_t*>(&h), sizeof h);
    }
    while (ok && left > 0) {
        const uint32_t n = std::min<uint32_t>(left, static_cast<uint32_t>(chunk.size()));
        for (uint32_t i = 0; i < n; ++i) {
            chunk[i] = static_cast<uint8_t>(gen());
        }
        ok = std::fwrite(chunk.data(), 1, n, f) == n;
        *crc = emu::crc32_update(*crc, chunk.data(), n);
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
    // Posts of the writing stage and the times the window showed the first and the last.
    uint32_t upload_posts = 0;
    double first_upload_post_s = 0;
    double last_upload_post_s = 0;
    double max_gap_ms = 0;
    uint32_t gaps_over_50ms = 0;
    bool completed = false;

    // The rate the window is asked to repaint at while data flows: the posts of the writing
    // stage over the time between its first and its last.
    double sustained_posts_per_second() const {
        const double span = last_upload_post_s - first_upload_post_s;
        return upload_posts > 1 && span > 0 ? (upload_posts - 1) / span : 0.0;
    }
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
                             if (m.startsWith(QStringLiteral("Uploading"))) {
                                 const double now = wall_.nsecsElapsed() / 1e9;
                                 if (upload_posts_ == 0) {
                                     first_upload_post_s_ = now;
                                 }
                                 last_upload_post_s_ = now;
                                 ++upload_posts_;
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
        upload_posts_ = 0;
        QElapsedTimer since_tick;
        QTimer ticker;
        ticker.setInterval(10);
        QObject::connect(&ticker, &QTimer::timeout, [&]() {
            const double gap_ms = since_tick.nsecsElapsed() / 1e6;
            r.max_gap_ms = std::max(r.max_gap_ms, gap_ms);
            r.gaps_over_50ms += gap_ms - 10.0 > 50.0 ? 1 : 0;
            since_tick.restart();
            // The emulator logs every frame for tests; keep its logs from growing here.
            emu_hid::clear_output_reports();
            emu_hid::unit().clear_received();
        });
        QPushButton* browse_button = window_->findChild<QPushButton*>(QString::fromLatin1(browse));
        wall_.start();
        since_tick.start();
        ticker.start();
        window_->findChild<QPushButton*>(QString::fromLatin1(start))->click();
        // The overload with a time limit does not wait for events: it spun a whole core, which
        // a 2-core machine took from the upload itself. The ticker wakes this loop every 10 ms.
        while (!browse_button->isEnabled()) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        ticker.stop();
        r.seconds = static_cast<double>(wall_.nsecsElapsed()) / 1e9;
        r.posts = posts_;
        r.upload_posts = upload_posts_;
        r.first_upload_post_s = first_upload_post_s_;
        r.last_upload_post_s = last_upload_post_s_;
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
    QElapsedTimer wall_;
    uint32_t posts_ = 0;
    uint32_t upload_posts_ = 0;
    double first_upload_post_s_ = 0;
    double last_upload_post_s_ = 0;
    QString last_message_;
};

// Where the time of a run with modelled latency went, from the link's own record: the unit's
// round trip (request in to its first answer out) and the tool's turn (last answer out to the
// next request in).
struct LinkSplit {
    double round_trip_us = 0;
    double tool_turn_us = 0;
};

LinkSplit split_link_time(const std::vector<emu_hid::LinkEvent>& events) {
    LinkSplit split;
    double trip_sum = 0;
    double turn_sum = 0;
    uint64_t trips = 0;
    uint64_t turns = 0;
    const emu_hid::LinkEvent* request = nullptr;
    const emu_hid::LinkEvent* answer = nullptr;
    for (const emu_hid::LinkEvent& e : events) {
        if (e.to_unit) {
            if (request != nullptr && answer != nullptr) {
                turn_sum += std::chrono::duration<double, std::micro>(e.at - answer->at).count();
                ++turns;
            }
            request = &e;
            answer = nullptr;
        } else if (request != nullptr) {
            if (answer == nullptr) {
                trip_sum += std::chrono::duration<double, std::micro>(e.at - request->at).count();
                ++trips;
            }
            answer = &e;
        }
    }
    split.round_trip_us = trips > 0 ? trip_sum / static_cast<double>(trips) : 0;
    split.tool_turn_us = turns > 0 ? turn_sum / static_cast<double>(turns) : 0;
    return split;
}

// Time the host took the virtual machine's processors away (steal), in seconds since boot;
// negative where the kernel does not say.
double steal_seconds() {
    std::ifstream stat("/proc/stat");
    std::string cpu;
    uint64_t field[8] = {};
    stat >> cpu;
    for (uint64_t& f : field) {
        stat >> f;
    }
    const long ticks = sysconf(_SC_CLK_TCK);
    return stat && ticks > 0 ? static_cast<double>(field[7]) / static_cast<double>(ticks) : -1.0;
}

// The system's load averages, for reading the figures: the machine is shared.
std::string load_average() {
    std::ifstream loadavg("/proc/loadavg");
    std::string one;
    std::string five;
    loadavg >> one >> five;
    return one + " " + five;
}

void print_run(const char* name, const RunFigures& r, uint32_t bytes, uint32_t packets) {
    std::printf(
        "%s: %.2f s, %.1f KiB/s, %u packets, %.1f us/packet, %u progress posts (%.1f/s), "
        "longest event loop gap %.1f ms, %u blocks over 50 ms%s\n",
        name, r.seconds, bytes / 1024.0 / r.seconds, packets, r.seconds * 1e6 / packets, r.posts,
        r.posts / r.seconds, r.max_gap_ms, r.gaps_over_50ms, r.completed ? "" : " (UPLOAD FAILED)");
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
    uint32_t image_crc = 0;
    uint32_t airport_crc = 0;
    if (!write_random_file(image_path, kImageSize, true, &image_crc) ||
        !write_random_file(airport_path, kAirportSize, false, &airport_crc)) {
        std::fprintf(stderr, "cannot write the upload files\n");
        return 1;
    }
    // Data packets after the header, whose write is one more.
    const uint32_t image_packets = (kImageSize - 64) / 64 + 1;
    const uint32_t airport_packets = kAirportSize / 64;

    emu_hid::reset();
    isolateWindowSettings();
    auto* window = new MainWindow();
    waitForConnectionAttempt(window);
    UploadDriver driver(window);
    const QString image = QString::fromStdString(image_path);
    const QString airports = QString::fromStdString(airport_path);
    const QString fw_done = QStringLiteral("Firmware update completed");
    const QString db_done = QStringLiteral("Airport database transfer finished");

    std::fflush(stdout);
    std::printf("load average (1 and 5 min) before the runs: %s\n", load_average().c_str());
    const double steal_before = steal_seconds();
    const RunFigures fw0 =
        driver.run("pushButton_browse", "pushButton_start_update", image, fw_done);
    print_run("firmware 4 MiB, 0 ms", fw0, kImageSize, image_packets);

    emu_hid::unit().set_flash_checking(true);
    const bool peak_reset = reset_peak_memory();
    const Memory before = read_memory();
    const RunFigures db0 =
        driver.run("pushButton_browse_airports", "pushButton_start_airport", airports, db_done);
    const Memory after = read_memory();
    print_run("airport 54 525 952 B, 0 ms", db0, kAirportSize, airport_packets);
    const std::vector<emu::ProgrammedRun> runs = emu_hid::unit().flash_runs();
    const bool airport_landed = runs.size() == 1 && runs[0].address == 0 &&
                                runs[0].length == kAirportSize && runs[0].crc_known &&
                                runs[0].crc32 == airport_crc;
    if (!airport_landed) {
        std::printf("airport flash: %zu runs, first %u bytes at 0x%08X, CRC 0x%08X (file 0x%08X)\n",
                    runs.size(), runs.empty() ? 0u : runs[0].length,
                    runs.empty() ? 0u : runs[0].address, runs.empty() ? 0u : runs[0].crc32,
                    airport_crc);
    }
    emu_hid::unit().set_flash_checking(false);

    emu_hid::set_latency_us(1000);
    emu_hid::record_link_events(true);
    const RunFigures fw1 =
        driver.run("pushButton_browse", "pushButton_start_update", image, fw_done);
    print_run("firmware 4 MiB, 1 ms round trip", fw1, kImageSize, image_packets);
    const LinkSplit split = split_link_time(emu_hid::link_events());
    emu_hid::record_link_events(false);
    emu_hid::set_latency_us(0);
    std::printf(
        "1 ms run on the link: request to answer %.1f us (modelled 1000), answer to next request "
        "%.1f us (pause 100)\n",
        split.round_trip_us, split.tool_turn_us);
    std::printf(
        "load average (1 and 5 min) after the runs: %s; processor time stolen by the "
        "host during the runs: %.1f s\n",
        load_average().c_str(), steal_seconds() - steal_before);
    const bool image_landed =
        emu::crc32_update(
            0,
            emu_hid::unit().flash_read(FW_BANK1_START_BLOCK * MX25_BLOCK_SIZE, kImageSize).data(),
            kImageSize) == image_crc;

    delete window;
    std::remove(image_path.c_str());
    std::remove(airport_path.c_str());

    const double bound_s = image_packets * (1000.0 + kPacketPauseUs) / 1e6;
    const double ratio = bound_s / fw1.seconds;
    const double tool_us = fw0.seconds * 1e6 / image_packets - kPacketPauseUs;
    const long rss_growth = after.rss_kib - before.rss_kib;
    // With the peak reset before the run, the peak it leaves is what the run needed at most.
    const long peak_growth = after.hwm_kib - (peak_reset ? before.rss_kib : before.hwm_kib);
    const double posts_per_second =
        std::max({fw0.posts / fw0.seconds, db0.posts / db0.seconds, fw1.posts / fw1.seconds});
    const double max_block = std::max({fw0.max_gap_ms, db0.max_gap_ms, fw1.max_gap_ms}) - 10.0;
    std::printf("bound at 1 ms: %.2f s for %u packets; achieved %.2f s\n", bound_s, image_packets,
                fw1.seconds);
    std::printf(
        "resident memory around the airport run: VmRSS %ld -> %ld KiB, VmHWM %ld -> %ld KiB\n",
        before.rss_kib, after.rss_kib, before.hwm_kib, after.hwm_kib);
    std::printf("peak growth over the airport run: %ld KiB%s\n", peak_growth,
                peak_reset ? "" : " (peak not resettable: growth above the earlier peak only)");
    std::printf("1 ms run: %u posts while writing, from %.2f s to %.2f s\n", fw1.upload_posts,
                fw1.first_upload_post_s, fw1.last_upload_post_s);
    std::printf("event loop blocked = longest gap between 10 ms timer ticks minus 10 ms\n");

    std::printf("fw_4mib_1ms_ratio_to_bound: %.3f\n", ratio);
    std::printf("fw_4mib_0ms_tool_us_per_packet: %.1f\n", tool_us);
    std::printf("airport_54mb_0ms_rss_growth_kib: %ld\n", rss_growth);
    std::printf("airport_54mb_0ms_peak_growth_kib: %ld\n", peak_growth);
    std::printf("airport_54mb_flash_crc_matches: %s\n", airport_landed ? "yes" : "no");
    std::printf("fw_4mib_1ms_flash_crc_matches: %s\n", image_landed ? "yes" : "no");
    std::printf("progress_posts_per_second: %.1f\n", posts_per_second);
    std::printf("progress_posts_per_second_1ms: %.1f\n", fw1.sustained_posts_per_second());
    std::printf("max_event_loop_block_ms: %.1f\n", std::max(0.0, max_block));
    const bool all_landed = airport_landed && image_landed;
    return fw0.completed && db0.completed && fw1.completed && all_landed ? 0 : 1;
}
