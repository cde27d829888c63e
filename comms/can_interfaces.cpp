#include "comms/can_interfaces.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

namespace {

namespace fs = std::filesystem;

constexpr unsigned long kArphrdCan = 280;
constexpr unsigned long kCanFdMtu = 72;
constexpr unsigned long kIffUp = 0x1;
// IFNAMSIZ less the terminating zero.
constexpr size_t kInterfaceNameMax = 15;

// The first line of a sysfs attribute as a number (sysfs writes `flags` as 0x..., so base 16
// takes the prefix); nothing when the file is missing or holds no number.
std::optional<unsigned long> read_number(const fs::path& file, int base) {
    std::ifstream in(file);
    std::string text;
    if (!in || !std::getline(in, text) || text.empty() ||
        !std::isxdigit(static_cast<unsigned char>(text[0]))) {
        return std::nullopt;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text.c_str(), &end, base);
    if (errno != 0 || end == text.c_str()) {
        return std::nullopt;
    }
    while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) {
        ++end;
    }
    if (*end != '\0') {
        return std::nullopt;
    }
    return value;
}

bool read_interface(const fs::path& dir, const std::string& name, CanInterface* out) {
    const std::optional<unsigned long> type = read_number(dir / "type", 10);
    if (!type || *type != kArphrdCan) {
        return false;
    }
    const std::optional<unsigned long> mtu = read_number(dir / "mtu", 10);
    const std::optional<unsigned long> flags = read_number(dir / "flags", 16);
    std::error_code ec;
    CanInterface iface;
    iface.name = name;
    iface.fd_capable = mtu && *mtu == kCanFdMtu;
    iface.up = flags && (*flags & kIffUp) != 0;
    // Hardware interfaces link to their device (a USB adapter, a PCI card); virtual ones do not.
    iface.is_virtual = !fs::exists(fs::symlink_status(dir / "device", ec));
    *out = iface;
    return true;
}

// The name as one shell word: a name with characters the shell would read is quoted.
std::string shell_word(const std::string& name) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
               c == '@' || c == '+';
    });
    if (plain) {
        return name;
    }
    std::string quoted = "'";
    for (const char c : name) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace

bool can_interface_name_valid(const std::string& name) {
    if (name.empty() || name.size() > kInterfaceNameMax || name == "." || name == "..") {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](char c) {
        return c == '/' || c == ':' || c == '\0' || std::isspace(static_cast<unsigned char>(c));
    });
}

std::vector<CanInterface> list_can_interfaces(const std::string& sysfs_net) {
    std::vector<CanInterface> found;
    std::error_code ec;
    fs::directory_iterator it(sysfs_net, ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        CanInterface iface;
        if (can_interface_name_valid(name) && read_interface(it->path(), name, &iface)) {
            found.push_back(iface);
        }
    }
    std::sort(found.begin(), found.end(),
              [](const CanInterface& a, const CanInterface& b) { return a.name < b.name; });
    return found;
}

bool can_interface_state(const std::string& name, CanInterface* out, const std::string& sysfs_net) {
    CanInterface iface;
    if (!can_interface_name_valid(name) ||
        !read_interface(fs::path(sysfs_net) / name, name, &iface)) {
        return false;
    }
    if (out != nullptr) {
        *out = iface;
    }
    return true;
}

std::string can_fd_up_command(const CanInterface& iface) {
    if (!can_interface_name_valid(iface.name)) {
        return std::string();
    }
    const std::string name = shell_word(iface.name);
    if (iface.is_virtual) {
        return "sudo ip link set " + name + " mtu 72 up";
    }
    return "sudo ip link set " + name + " up type can bitrate 500000 dbitrate 2000000 fd on";
}
