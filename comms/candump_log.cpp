#include "comms/candump_log.h"

#include <fcntl.h>
#include <linux/can.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr const char* kUsbInterfaceName = "usbhid";
// Enough for the longest line (a 64-byte frame), so that building one allocates once.
constexpr size_t kLineReserve = 192;
// Far fewer write calls than the default buffer of a page over a long upload.
constexpr size_t kFileBuffer = 1 << 16;

void append_hex(std::string* out, uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        out->push_back(kHexDigits[(value >> shift) & 0xF]);
    }
}

std::string write_error(const std::string& path, int err) {
    return "cannot write " + path + ": " + std::strerror(err);
}

// The trace goes to a new file beside a regular file (or a new name) and replaces it only once
// all of it is written, so that a failed trace leaves an earlier one as it was. A device or a
// pipe is written in place. 0, or the error; *temp (empty when the file is written in place)
// is to replace *target.
int open_file(const std::string& path, std::string* temp, std::string* target, FILE** file) {
    temp->clear();
    struct stat st {};
    const bool exists = stat(path.c_str(), &st) == 0;
    if (exists && !S_ISREG(st.st_mode)) {
        *file = std::fopen(path.c_str(), "w");
        return *file != nullptr ? 0 : errno;
    }
    // Through a symbolic link, the file it names is the one replaced.
    *target = path;
    if (exists) {
        char* real = realpath(path.c_str(), nullptr);
        if (real == nullptr) {
            return errno;
        }
        *target = real;
        std::free(real);
    }
    static std::atomic<unsigned> counter{0};
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        *temp = *target + ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
        fd = ::open(temp->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        const int err = errno;
        temp->clear();
        return err;
    }
    if (exists) {
        (void)fchmod(fd, st.st_mode & 07777);
    }
    *file = fdopen(fd, "w");
    if (*file == nullptr) {
        const int err = errno;
        ::close(fd);
        unlink(temp->c_str());
        temp->clear();
        return err;
    }
    return 0;
}

}  // namespace

std::string candump_line(const TappedFrame& f, const std::string& interface_name) {
    char stamp[48] = {};
    std::snprintf(stamp, sizeof(stamp), "(%lld.%06lld) ",
                  static_cast<long long>(f.time_us / 1000000),
                  static_cast<long long>(f.time_us % 1000000));
    std::string line;
    line.reserve(kLineReserve + interface_name.size());
    line += stamp;
    line += interface_name;
    line += ' ';

    // USB reports carry neither error nor remote frames: only the identifier's width counts.
    const bool usb = f.iface == USB_HID;
    const bool error_frame = !usb && (f.can_id & CAN_ERR_FLAG) != 0;
    if (error_frame) {
        append_hex(&line, f.can_id & (CAN_ERR_MASK | CAN_ERR_FLAG), 8);
    } else if ((f.can_id & CAN_EFF_FLAG) != 0) {
        append_hex(&line, f.can_id & CAN_EFF_MASK, 8);
    } else {
        append_hex(&line, f.can_id & CAN_SFF_MASK, 3);
    }

    line += '#';
    if (usb || (f.fd && !error_frame)) {
        line += '#';
        line += kHexDigits[usb ? 0 : f.flags & 0x0F];
    } else if ((f.can_id & CAN_RTR_FLAG) != 0 && !error_frame) {
        line += 'R';
        return line;
    }
    const size_t len = std::min<size_t>(f.len, sizeof(f.data));
    for (size_t i = 0; i < len; ++i) {
        append_hex(&line, f.data[i], 2);
    }
    return line;
}

CandumpTrace::~CandumpTrace() {
    close(nullptr);
}

bool CandumpTrace::open(const std::string& path, const std::string& can_interface_name,
                        std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!close_locked(error)) {
        return false;
    }
    std::string temp;
    std::string target;
    FILE* file = nullptr;
    const int err = open_file(path, &temp, &target, &file);
    if (err != 0) {
        if (error != nullptr) {
            *error = write_error(path, err);
        }
        return false;
    }
    if (std::setvbuf(file, nullptr, _IOFBF, kFileBuffer) != 0) {
        const int setvbuf_err = errno;
        std::fclose(file);
        if (!temp.empty()) {
            unlink(temp.c_str());
        }
        if (error != nullptr) {
            *error = write_error(path, setvbuf_err);
        }
        return false;
    }
    file_ = file;
    path_ = path;
    temp_path_ = temp;
    target_path_ = target;
    can_interface_name_ = can_interface_name;
    write_errno_ = 0;
    return true;
}

FrameTap CandumpTrace::tap() {
    return [this](const TappedFrame& f) { write_line(f); };
}

bool CandumpTrace::close(std::string* error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return close_locked(error);
}

void CandumpTrace::write_line(const TappedFrame& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_ == nullptr) {
        return;
    }
    std::string line =
        candump_line(f, f.iface == USB_HID ? kUsbInterfaceName : can_interface_name_);
    line += '\n';
    // The tap runs inside the links' calls, whose callers may still look at errno.
    const int saved_errno = errno;
    errno = 0;
    if (std::fwrite(line.data(), 1, line.size(), file_) != line.size() && write_errno_ == 0) {
        write_errno_ = errno != 0 ? errno : EIO;
    }
    errno = saved_errno;
}

bool CandumpTrace::close_locked(std::string* error) {
    if (file_ == nullptr) {
        return true;
    }
    int err = write_errno_;
    if (std::fflush(file_) != 0 && err == 0) {
        err = errno;
    }
    if (std::ferror(file_) != 0 && err == 0) {
        err = EIO;
    }
    if (std::fclose(file_) != 0 && err == 0) {
        err = errno;
    }
    if (!temp_path_.empty()) {
        if (err == 0 && std::rename(temp_path_.c_str(), target_path_.c_str()) != 0) {
            err = errno;
        }
        if (err != 0) {
            unlink(temp_path_.c_str());
        }
        temp_path_.clear();
    }
    file_ = nullptr;
    write_errno_ = 0;
    if (err != 0) {
        if (error != nullptr) {
            *error = write_error(path_, err);
        }
        return false;
    }
    return true;
}
