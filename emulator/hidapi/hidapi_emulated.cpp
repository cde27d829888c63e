// The hidapi functions the tool uses, served by an emulated unit behind one emulated USB
// link, and the control functions tests use to shape that link.
#include <hidapi.h>
#include <sys/prctl.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "emulator/hidapi/emulated_hidapi.h"
#include "emulator/hidapi/report_codec.h"

struct hid_device_ {
    bool is_unit;
    bool open;
    size_t port;          // the unit it reaches
    uint32_t plug_epoch;  // the unit's plug-in during which it was opened
};

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kVendorUsagePage = 0xFF00;

std::string unit_path(size_t port) {
    return "emu-hid-" + std::to_string(port);
}

struct PendingReport {
    Clock::time_point due;
    std::vector<uint8_t> report;
};

// One unit and its cable.
struct Port {
    emu::EfisUnit unit;
    bool plugged = true;
    uint32_t plug_epoch = 0;  // counts unplugs: a handle of an earlier epoch is dead
    std::optional<Clock::time_point> replug_at;  // end of a restart under way
    std::deque<PendingReport> pending;

    // A restart ends at the first look after its time.
    void update_plug() {
        if (replug_at && Clock::now() >= *replug_at) {
            plugged = true;
            replug_at.reset();
        }
    }
};

struct Link {
    std::mutex mutex;
    std::condition_variable changed;
    // The first unit is the one the injection, vanishing and traffic controls shape.
    std::vector<std::unique_ptr<Port>> ports;
    std::vector<emu_hid::Interface> interfaces;
    bool fail_open = false;
    bool vanish_armed = false;
    uint32_t vanish_left = 0;
    bool vanished = false;
    uint32_t latency_us = 0;
    uint32_t traffic_fps = 0;
    uint32_t traffic_id = 0;
    uint8_t traffic_seq = 0;
    Clock::time_point traffic_next{};
    std::deque<std::vector<uint8_t>> injected;
    std::deque<std::vector<uint8_t>> held_for_next_write;
    // Element i is released by the (i + 1)th output report from now.
    std::deque<std::vector<std::vector<uint8_t>>> held_for_later_writes;
    bool scripted = false;
    std::vector<std::vector<uint8_t>> outputs;
    bool recording = false;
    std::vector<emu_hid::LinkEvent> events;
    uint32_t opens = 0;
    uint32_t closes = 0;
    int inits = 0;
    // Handles stay allocated until the process ends, so that a handle used after hid_close
    // (or after a reset) reads as closed instead of pointing at freed memory.
    std::vector<std::unique_ptr<hid_device_>> devices;

    Link() {
        ports.push_back(std::make_unique<Port>());
        set_defaults();
    }

    Port& first() { return *ports.front(); }

    // One interface on the vendor page per unit.
    void default_interfaces() {
        interfaces.clear();
        for (size_t i = 0; i < ports.size(); ++i) {
            interfaces.push_back({vendor_id, product_id, kVendorUsagePage, unit_path(i), true});
        }
    }

    void set_defaults() {
        ports.resize(1);
        default_interfaces();
        fail_open = false;
        vanish_armed = false;
        vanish_left = 0;
        vanished = false;
        for (auto& p : ports) {
            p->plugged = true;
            p->replug_at.reset();
            p->pending.clear();
        }
        latency_us = 0;
        traffic_fps = 0;
        traffic_id = 0;
        traffic_seq = 0;
        injected.clear();
        held_for_next_write.clear();
        held_for_later_writes.clear();
        scripted = false;
        outputs.clear();
        recording = false;
        events.clear();
        opens = 0;
        closes = 0;
        inits = 0;
        for (auto& d : devices) {
            d->open = false;
        }
    }

    void unplug_unit(Port& p) {
        p.plugged = false;
        ++p.plug_epoch;
        p.replug_at.reset();
        p.pending.clear();  // answers in flight die with the device
        changed.notify_all();
    }

    bool unit_present(size_t port) {
        Port& p = *ports[port];
        p.update_plug();
        return p.plugged && !(port == 0 && vanished);
    }

    // The unit the interface at `index` of the list reaches: the k-th interface on the
    // vendor page reaches the k-th unit.
    size_t port_of(size_t index) const {
        size_t k = 0;
        for (size_t i = 0; i < index; ++i) {
            k += interfaces[i].is_unit ? 1 : 0;
        }
        return std::min(k, ports.size() - 1);
    }

    // A handle that can still move reports.
    bool alive(const hid_device_* dev) {
        return dev->open && (!dev->is_unit || (unit_present(dev->port) &&
                                               dev->plug_epoch == ports[dev->port]->plug_epoch));
    }

    bool unit_open(size_t port) const {
        return std::any_of(devices.begin(), devices.end(), [port](const auto& d) {
            return d->open && d->is_unit && d->port == port;
        });
    }

    Clock::duration traffic_period() const {
        return std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / traffic_fps;
    }

    std::vector<uint8_t> traffic_report() {
        COMMS_MSG_t f;
        std::memset(&f, 0, sizeof(f));
        f.iface = USB_HID;
        f.can_ID = traffic_id;
        f.msg_len = CAN_8_BYTES;
        for (uint8_t i = 0; i < 8; ++i) {
            f.data[i] = static_cast<uint8_t>(traffic_seq + i);
        }
        ++traffic_seq;
        return emu_hid::encode_input_report(f);
    }

    void queue_answers(std::deque<PendingReport>& pending,
                       const std::vector<emu::Answer>& answers) {
        const Clock::time_point now = Clock::now();
        for (const emu::Answer& a : answers) {
            Clock::time_point due =
                now + std::chrono::milliseconds(a.delay_ms) + std::chrono::microseconds(latency_us);
            // The unit sends its answers in order: a late answer holds back the later ones.
            if (!pending.empty()) {
                due = std::max(due, pending.back().due);
            }
            pending.push_back({due, emu_hid::encode_input_report(a.frame)});
        }
    }

    // The next report the unit has for the tool at `now`, if any; `wake` gets the time the
    // next one falls due.
    std::optional<std::vector<uint8_t>> next_report(size_t port, Clock::time_point now,
                                                    std::optional<Clock::time_point>* wake) {
        std::deque<PendingReport>& pending = ports[port]->pending;
        if (port != 0) {
            if (!pending.empty() && pending.front().due <= now) {
                std::vector<uint8_t> r = std::move(pending.front().report);
                pending.pop_front();
                return r;
            }
            if (!pending.empty()) {
                *wake = pending.front().due;
            }
            return std::nullopt;
        }
        if (!injected.empty()) {
            std::vector<uint8_t> r = std::move(injected.front());
            injected.pop_front();
            return r;
        }
        const bool answer_due = !pending.empty() && pending.front().due <= now;
        if (traffic_fps > 0) {
            // Frames the reader missed while it was away are lost, as in a full buffer.
            if (traffic_next + traffic_period() < now) {
                traffic_next = now;
            }
            if (traffic_next <= now && !(answer_due && pending.front().due < traffic_next)) {
                traffic_next += traffic_period();
                return traffic_report();
            }
            *wake = traffic_next;
        }
        if (answer_due) {
            std::vector<uint8_t> r = std::move(pending.front().report);
            pending.pop_front();
            return r;
        }
        if (!pending.empty() && (!*wake || pending.front().due < **wake)) {
            *wake = pending.front().due;
        }
        return std::nullopt;
    }
};

Link& link() {
    static Link instance;
    return instance;
}

// A condition variable wakes tens of microseconds late, later still by the calling thread's
// timer slack, which would stretch the modelled link latency of every frame; the last stretch
// before a report falls due is therefore spun out. The spin does not yield: on a busy machine
// a yield gives the processor away for milliseconds. On a 2-core virtual machine one wait in
// ten still woke 20-30 us late with a 50 us stretch; with 100 us the answers of a 1 ms link
// came a median 2 us late.
Clock::duration exact_wait() {
    const int slack_ns = prctl(PR_GET_TIMERSLACK, 0UL, 0UL, 0UL, 0UL);
    return std::chrono::microseconds(100) + std::chrono::nanoseconds(std::max(slack_ns, 0));
}

char* copy_string(const std::string& s) {
    char* out = new char[s.size() + 1];
    std::memcpy(out, s.c_str(), s.size() + 1);
    return out;
}

}  // namespace

int HID_API_EXPORT HID_API_CALL hid_init(void) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    ++l.inits;
    return 0;
}

int HID_API_EXPORT HID_API_CALL hid_exit(void) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    --l.inits;
    return 0;
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate(unsigned short vendor,
                                                                  unsigned short product) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    hid_device_info* head = nullptr;
    hid_device_info** tail = &head;
    for (size_t n = 0; n < l.interfaces.size(); ++n) {
        const emu_hid::Interface& i = l.interfaces[n];
        const bool match =
            (vendor == 0 || vendor == i.vendor_id) && (product == 0 || product == i.product_id);
        if (!match || (i.is_unit && !l.unit_present(l.port_of(n)))) {
            continue;
        }
        auto* info = new hid_device_info{};
        info->path = copy_string(i.path);
        info->vendor_id = i.vendor_id;
        info->product_id = i.product_id;
        info->usage_page = i.usage_page;
        *tail = info;
        tail = &info->next;
    }
    return head;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info* devs) {
    while (devs != nullptr) {
        hid_device_info* next = devs->next;
        delete[] devs->path;
        delete devs;
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path(const char* path) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (path == nullptr || l.fail_open) {
        return nullptr;
    }
    const auto it = std::find_if(l.interfaces.begin(), l.interfaces.end(),
                                 [path](const emu_hid::Interface& i) { return i.path == path; });
    const size_t port = l.port_of(static_cast<size_t>(it - l.interfaces.begin()));
    if (it == l.interfaces.end() || (it->is_unit && !l.unit_present(port))) {
        return nullptr;
    }
    l.devices.push_back(std::make_unique<hid_device_>(
        hid_device_{it->is_unit, true, port, l.ports[port]->plug_epoch}));
    ++l.opens;
    if (it->is_unit && port == 0 && l.traffic_fps > 0) {
        l.traffic_next = Clock::now() + l.traffic_period();
    }
    return l.devices.back().get();
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device* dev) {
    if (dev == nullptr) {
        return;
    }
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!dev->open) {
        return;
    }
    dev->open = false;
    ++l.closes;
    if (dev->is_unit && !l.unit_open(dev->port)) {
        l.ports[dev->port]->pending.clear();  // answers in flight die with the last handle
    }
    l.changed.notify_all();
}

// A report the unit cannot parse is recorded and dropped, as the unit's USB stack would;
// the transfer itself succeeded, so the full length is returned.
int HID_API_EXPORT HID_API_CALL hid_write(hid_device* dev, const unsigned char* data,
                                          size_t length) {
    if (dev == nullptr || data == nullptr) {
        return -1;
    }
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (!l.alive(dev)) {
        return -1;
    }
    l.outputs.emplace_back(data, data + length);
    if (l.recording && dev->is_unit) {
        l.events.push_back({Clock::now(), true, l.outputs.back()});
    }
    COMMS_MSG_t frame;
    std::memset(&frame, 0, sizeof(frame));
    Port& port = *l.ports[dev->port];
    const bool first = dev->port == 0;
    if (dev->is_unit && !(first && l.scripted) &&
        emu_hid::decode_output_report(data, length, &frame)) {
        l.queue_answers(port.pending, port.unit.handle(frame));
        if (port.unit.take_reboot()) {
            const uint32_t ms = port.unit.reboot_ms();
            l.unplug_unit(port);
            port.replug_at = Clock::now() + std::chrono::milliseconds(ms);
        }
    }
    if (dev->is_unit && first) {
        l.injected.insert(l.injected.end(), l.held_for_next_write.begin(),
                          l.held_for_next_write.end());
        l.held_for_next_write.clear();
        if (!l.held_for_later_writes.empty()) {
            for (std::vector<uint8_t>& r : l.held_for_later_writes.front()) {
                l.injected.push_back(std::move(r));
            }
            l.held_for_later_writes.pop_front();
        }
    }
    if (dev->is_unit && first && l.vanish_armed && l.vanish_left > 0 && --l.vanish_left == 0) {
        l.vanished = true;
    }
    l.changed.notify_all();
    return static_cast<int>(length);
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device* dev, unsigned char* data,
                                                 size_t length, int milliseconds) {
    if (dev == nullptr || data == nullptr) {
        return -1;
    }
    Link& l = link();
    std::unique_lock<std::mutex> lock(l.mutex);
    const Clock::time_point start = Clock::now();
    const std::optional<Clock::time_point> deadline =
        milliseconds < 0
            ? std::nullopt
            : std::optional<Clock::time_point>(start + std::chrono::milliseconds(milliseconds));
    for (;;) {
        if (!l.alive(dev)) {
            return -1;
        }
        const Clock::time_point now = Clock::now();
        std::optional<Clock::time_point> wake;
        if (dev->is_unit) {
            std::optional<std::vector<uint8_t>> report = l.next_report(dev->port, now, &wake);
            if (report) {
                const size_t n = std::min(length, report->size());
                std::copy(report->begin(), report->begin() + static_cast<std::ptrdiff_t>(n), data);
                if (l.recording) {
                    l.events.push_back({Clock::now(), false, std::move(*report)});
                }
                return static_cast<int>(n);
            }
        }
        if (l.scripted && dev->port == 0) {
            return -1;
        }
        if (deadline && now >= *deadline) {
            return 0;
        }
        if (deadline && (!wake || *deadline < *wake)) {
            wake = deadline;
        }
        if (wake) {
            const Clock::duration exact = exact_wait();
            if (*wake - now <= exact) {
                lock.unlock();
                while (Clock::now() < *wake) {
                }
                lock.lock();
            } else {
                l.changed.wait_until(lock, *wake - exact);
            }
        } else {
            l.changed.wait(lock);
        }
    }
}

namespace emu_hid {

emu::EfisUnit& unit() {
    return link().first().unit;
}

emu::EfisUnit& unit(size_t index) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.ports.at(std::min(index, l.ports.size() - 1))->unit;
}

void set_unit_count(size_t count) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    const size_t n = std::max<size_t>(count, 1);
    while (l.ports.size() < n) {
        l.ports.push_back(std::make_unique<Port>());
    }
    l.ports.resize(n);
    l.default_interfaces();
    l.changed.notify_all();
}

size_t unit_count() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.ports.size();
}

void reset() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.first().unit.reset();
    l.set_defaults();
    l.changed.notify_all();
}

void unplug() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.unplug_unit(l.first());
}

void plug() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.first().plugged = true;
    l.first().replug_at.reset();
    l.changed.notify_all();
}

bool plugged() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.first().update_plug();
    return l.first().plugged;
}

void set_interfaces(const std::vector<Interface>& interfaces) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.interfaces = interfaces;
}

void set_fail_open(bool on) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.fail_open = on;
}

void vanish_after(uint32_t frames) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.vanish_armed = true;
    l.vanish_left = frames;
    l.vanished = frames == 0;
    l.changed.notify_all();
}

void set_latency_us(uint32_t us) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.latency_us = us;
}

void set_background_traffic(uint32_t frames_per_second, uint32_t can_id) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.traffic_fps = frames_per_second;
    l.traffic_id = can_id;
    if (frames_per_second > 0) {
        l.traffic_next = Clock::now() + l.traffic_period();
    }
    l.changed.notify_all();
}

void inject_input_report(const std::vector<uint8_t>& report) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.injected.push_back(report);
    l.changed.notify_all();
}

void inject_after_next_write(const std::vector<uint8_t>& report) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.held_for_next_write.push_back(report);
}

void inject_after_writes(uint32_t writes, const std::vector<uint8_t>& report) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    const size_t slot = writes > 0 ? writes - 1 : 0;
    if (l.held_for_later_writes.size() <= slot) {
        l.held_for_later_writes.resize(slot + 1);
    }
    l.held_for_later_writes[slot].push_back(report);
}

void set_scripted(bool on) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.scripted = on;
    l.injected.clear();
    l.held_for_next_write.clear();
    l.held_for_later_writes.clear();
    l.first().pending.clear();
    l.changed.notify_all();
}

std::vector<std::vector<uint8_t>> output_reports() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.outputs;
}

void clear_output_reports() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.outputs.clear();
}

void record_link_events(bool on) {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    l.recording = on;
}

std::vector<LinkEvent> link_events() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.events;
}

uint32_t open_count() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.opens;
}

uint32_t close_count() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.closes;
}

bool device_open() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.unit_open(0);
}

int init_count() {
    Link& l = link();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.inits;
}

}  // namespace emu_hid
