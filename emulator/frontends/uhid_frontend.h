// The emulated unit behind /dev/uhid: the kernel shows it as a USB HID device (vendor 0x16D0,
// product 0x14C7) with a hidraw node, the unit's frames travelling in its reports:
//  - output report 5 (program to unit): can_ID LE32, length code, up to 64 payload bytes;
//  - input report 1 (unit to program): the 72-byte frame layout, interface byte first;
//  - input report 2: 6 bytes, the shortest report a transport must still take.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "EFIS_shared/comms_types.h"
#include "emulator/efis_unit.h"

namespace emu {

inline constexpr uint16_t kUnitUsagePage = 0xFF00;
inline constexpr uint8_t kOutputReportId = 5;
inline constexpr uint8_t kFrameReportId = 1;
inline constexpr uint8_t kShortReportId = 2;
inline constexpr size_t kFrameReportSize = 1 + sizeof(COMMS_MSG_t);
inline constexpr size_t kShortReportSize = 7;

class UhidFrontend {
public:
    using FrameLog = std::function<void(const COMMS_MSG_t&)>;

    // `usage_page` other than 0xFF00 makes an interface the tool must pass over.
    explicit UhidFrontend(EfisUnit& unit, uint16_t usage_page = kUnitUsagePage);
    ~UhidFrontend();
    UhidFrontend(const UhidFrontend&) = delete;
    UhidFrontend& operator=(const UhidFrontend&) = delete;

    // Creates the device; false with `*error` set when /dev/uhid cannot be used.
    bool open(std::string* error, const std::string& uhid_path = "/dev/uhid");
    // Serves the device on a thread of its own until stop(), which also removes the device.
    void start();
    void stop();

    void set_frame_log(FrameLog log);  // before start()
    void set_silent(bool on);          // the unit takes frames but answers nothing
    // Called on the serving thread when the unit has taken an enter-boot-loader frame;
    // before start().
    void set_reboot_handler(std::function<void()> handler);

    // The cable: unplug() removes the device (readers of its hidraw node lose it), plug()
    // creates it again. The unit behind it is untouched. False with `*error` set on failure.
    bool unplug(std::string* error);
    bool plug(std::string* error);

    // Sends one input report as it stands (report ID first); its size must be one the
    // report descriptor declares (kFrameReportSize or kShortReportSize).
    bool send_input_report(const std::vector<uint8_t>& report);

    // The size of every output report the kernel handed over, report ID included.
    std::vector<size_t> output_report_sizes() const;
    void clear_output_report_sizes();
    uint32_t open_count() const;  // times a reader opened the hidraw node
    bool is_open() const;         // a reader holds the hidraw node now

private:
    void serve();
    void take_output(const uint8_t* report, size_t size);
    bool send_frame(const COMMS_MSG_t& frame);
    bool write_event(const void* event);
    bool write_locked(const void* event);  // with mutex_ held
    bool create_locked(std::string* error);

    EfisUnit& unit_;
    uint16_t usage_page_;
    int fd_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_{false};
    std::atomic<uint32_t> opens_{0};
    std::atomic<bool> open_now_{false};
    FrameLog log_;
    std::function<void()> on_reboot_;
    mutable std::mutex mutex_;  // the uhid file, the device and the report sizes
    bool created_ = false;
    std::vector<size_t> output_sizes_;
};

}  // namespace emu
