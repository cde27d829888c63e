#include "emulator/frontends/uhid_frontend.h"

#include <fcntl.h>
#include <linux/input.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "emulator/frontends/answer_pacing.h"

namespace emu {

namespace {

constexpr int kPollMs = 50;
constexpr size_t kOutputHeader = 6;  // report ID, can_ID LE32, length code
constexpr uint8_t kOutputDataBytes = 69;

// One application collection on `page`; report sizes match the constants of the header.
std::vector<uint8_t> report_descriptor(uint16_t page) {
    const uint8_t page_lo = static_cast<uint8_t>(page & 0xFF);
    const uint8_t page_hi = static_cast<uint8_t>(page >> 8);
    // clang-format off
    return {
        0x06, page_lo, page_hi,            // Usage Page
        0x09, 0x01,                        // Usage (1)
        0xA1, 0x01,                        // Collection (Application)
        0x15, 0x00,                        //   Logical Minimum (0)
        0x26, 0xFF, 0x00,                  //   Logical Maximum (255)
        0x75, 0x08,                        //   Report Size (8)
        0x85, kFrameReportId,              //   Report ID (1)
        0x95, sizeof(COMMS_MSG_t),         //   Report Count (72)
        0x09, 0x02,                        //   Usage (2)
        0x81, 0x02,                        //   Input (Data, Var, Abs)
        0x85, kShortReportId,              //   Report ID (2)
        0x95, kShortReportSize - 1,        //   Report Count (6)
        0x09, 0x03,                        //   Usage (3)
        0x81, 0x02,                        //   Input (Data, Var, Abs)
        0x85, kOutputReportId,             //   Report ID (5)
        0x95, kOutputDataBytes,            //   Report Count (69)
        0x09, 0x04,                        //   Usage (4)
        0x91, 0x02,                        //   Output (Data, Var, Abs)
        0xC0,                              // End Collection
    };
    // clang-format on
}

uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

UhidFrontend::UhidFrontend(EfisUnit& unit, uint16_t usage_page)
    : unit_(unit), usage_page_(usage_page) {}

UhidFrontend::~UhidFrontend() {
    stop();
}

bool UhidFrontend::open(std::string* error, const std::string& uhid_path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) {
        *error = "already open";
        return false;
    }
    fd_ = ::open(uhid_path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd_ < 0) {
        *error = "cannot open " + uhid_path + ": " + std::strerror(errno);
        return false;
    }
    if (!create_locked(error)) {
        close(fd_);
        fd_ = -1;
        return false;
    }
    return true;
}

bool UhidFrontend::create_locked(std::string* error) {
    const std::vector<uint8_t> rd = report_descriptor(usage_page_);
    uhid_event ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.name), sizeof(ev.u.create2.name),
                  "EFIS unit (emulated, page 0x%04X)", usage_page_);
    std::snprintf(reinterpret_cast<char*>(ev.u.create2.phys), sizeof(ev.u.create2.phys),
                  "efis-emu/uhid");
    ev.u.create2.rd_size = static_cast<uint16_t>(rd.size());
    ev.u.create2.bus = BUS_USB;
    ev.u.create2.vendor = vendor_id;
    ev.u.create2.product = product_id;
    std::memcpy(ev.u.create2.rd_data, rd.data(), rd.size());
    if (!write_locked(&ev)) {
        *error = std::string("cannot create the uhid device: ") + std::strerror(errno);
        return false;
    }
    created_ = true;
    return true;
}

bool UhidFrontend::unplug(std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!created_) {
        return true;
    }
    uhid_event ev;
    std::memset(&ev, 0, sizeof(ev));
    ev.type = UHID_DESTROY;
    if (!write_locked(&ev)) {
        *error = std::string("cannot destroy the uhid device: ") + std::strerror(errno);
        return false;
    }
    created_ = false;
    open_now_ = false;
    return true;
}

bool UhidFrontend::plug(std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ < 0) {
        *error = "not open";
        return false;
    }
    return created_ || create_locked(error);
}

void UhidFrontend::start() {
    if (fd_ < 0 || thread_.joinable()) {
        return;
    }
    stop_ = false;
    thread_ = std::thread([this] { serve(); });
}

void UhidFrontend::stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (fd_ >= 0) {
        uhid_event ev;
        std::memset(&ev, 0, sizeof(ev));
        ev.type = UHID_DESTROY;
        // Closing the file removes the device too, so a failed destroy needs nothing more.
        if (created_) {
            write_locked(&ev);
        }
        close(fd_);
        fd_ = -1;
    }
    created_ = false;
    open_now_ = false;
}

void UhidFrontend::set_frame_log(FrameLog log) {
    log_ = std::move(log);
}

void UhidFrontend::set_silent(bool on) {
    silent_ = on;
}

void UhidFrontend::set_reboot_handler(std::function<void()> handler) {
    on_reboot_ = std::move(handler);
}

bool UhidFrontend::send_input_report(const std::vector<uint8_t>& report) {
    uhid_event ev;
    std::memset(&ev, 0, sizeof(ev));
    if (report.empty() || report.size() > sizeof(ev.u.input2.data)) {
        return false;
    }
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<uint16_t>(report.size());
    std::memcpy(ev.u.input2.data, report.data(), report.size());
    return write_event(&ev);
}

std::vector<size_t> UhidFrontend::output_report_sizes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return output_sizes_;
}

void UhidFrontend::clear_output_report_sizes() {
    std::lock_guard<std::mutex> lock(mutex_);
    output_sizes_.clear();
}

uint32_t UhidFrontend::open_count() const {
    return opens_.load();
}

bool UhidFrontend::is_open() const {
    return open_now_.load();
}

void UhidFrontend::serve() {
    while (!stop_.load()) {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollMs);
        if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
            continue;
        }
        uhid_event ev;
        std::memset(&ev, 0, sizeof(ev));
        if (read(fd_, &ev, sizeof(ev)) <= 0) {
            continue;
        }
        uhid_event reply;
        std::memset(&reply, 0, sizeof(reply));
        switch (ev.type) {
        case UHID_OPEN:
            ++opens_;
            open_now_ = true;
            break;
        case UHID_CLOSE:
            open_now_ = false;
            break;
        case UHID_OUTPUT:
            take_output(ev.u.output.data, ev.u.output.size);
            break;
        case UHID_GET_REPORT:
            // The unit has no feature reports; the kernel would otherwise wait for a reply.
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = ev.u.get_report.id;
            reply.u.get_report_reply.err = EIO;
            write_event(&reply);
            break;
        case UHID_SET_REPORT:
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = ev.u.set_report.id;
            reply.u.set_report_reply.err = EIO;
            write_event(&reply);
            break;
        default:
            break;
        }
    }
}

void UhidFrontend::take_output(const uint8_t* report, size_t size) {
    const auto received_at = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        output_sizes_.push_back(size);
    }
    if (size < kOutputHeader || report[0] != kOutputReportId) {
        return;
    }
    COMMS_MSG_t in;
    std::memset(&in, 0, sizeof(in));
    in.iface = USB_HID;
    in.can_ID = le32(report + 1);
    in.msg_len = static_cast<CAN_MSG_LEN_t>(report[5]);
    size_t payload = can_msg_payload_len(in.msg_len);
    if (payload > size - kOutputHeader) {
        payload = size - kOutputHeader;
    }
    std::memcpy(in.data, report + kOutputHeader, payload);
    if (log_) {
        log_(in);
    }
    const std::vector<Answer> answers = unit_.handle(in);
    if (unit_.take_reboot() && on_reboot_) {
        on_reboot_();
    }
    if (silent_.load()) {
        return;
    }
    for (const Answer& answer : answers) {
        if (!wait_until_due(received_at, answer.delay_ms, stop_)) {
            return;
        }
        send_frame(answer.frame);
    }
}

bool UhidFrontend::send_frame(const COMMS_MSG_t& frame) {
    COMMS_MSG_t out = frame;
    out.iface = USB_HID;
    std::vector<uint8_t> report(kFrameReportSize, 0);
    report[0] = kFrameReportId;
    std::memcpy(report.data() + 1, &out, sizeof(out));
    return send_input_report(report);
}

bool UhidFrontend::write_event(const void* event) {
    std::lock_guard<std::mutex> lock(mutex_);
    return write_locked(event);
}

bool UhidFrontend::write_locked(const void* event) {
    if (fd_ < 0) {
        return false;
    }
    return write(fd_, event, sizeof(uhid_event)) == static_cast<ssize_t>(sizeof(uhid_event));
}

}  // namespace emu
