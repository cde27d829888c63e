// The CAN interface list read from a sysfs tree laid out in a temporary folder: CAN FD,
// classic CAN, down, virtual and real interfaces, other network types, missing and broken
// attributes, names the kernel would refuse; and the command that readies an interface.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "comms/can_interfaces.h"

namespace {

namespace fs = std::filesystem;

// One folder under the fake /sys/class/net; an attribute left empty is not written.
struct Entry {
    std::string name;
    std::optional<std::string> type;
    std::optional<std::string> mtu;
    std::optional<std::string> flags;
    bool device;  // a `device` link, as hardware interfaces have
};

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "efis-sysfs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
        fs::create_directories(root / "devices" / "usb1");
        fs::create_directories(root / "net");
        net = (root / "net").string();
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(root, ec);
    }

    void write(const fs::path& file, const std::string& text) {
        std::ofstream out(file);
        out << text;
    }
    void add(const Entry& e) {
        const fs::path dir = fs::path(net) / e.name;
        fs::create_directories(dir);
        if (e.type) {
            write(dir / "type", *e.type);
        }
        if (e.mtu) {
            write(dir / "mtu", *e.mtu);
        }
        if (e.flags) {
            write(dir / "flags", *e.flags);
        }
        if (e.device) {
            fs::create_directory_symlink(root / "devices" / "usb1", dir / "device");
        }
    }

    fs::path root;
    std::string net;
};

std::string describe(const CanInterface& i) {
    std::ostringstream s;
    s << i.name << (i.fd_capable ? " fd" : " classic") << (i.up ? " up" : " down")
      << (i.is_virtual ? " virtual" : " real");
    return s.str();
}

std::vector<std::string> describe(const std::vector<CanInterface>& list) {
    std::vector<std::string> out;
    for (const CanInterface& i : list) {
        out.push_back(describe(i));
    }
    return out;
}

// Listed in the order written, which is not the order by name.
const std::vector<Entry> kTree = {
    {"vcan0", "280\n", "72\n", "0xc1\n", false},
    {"can2", "280\n", "72\n", "0x1002\n", true},  // down
    {"can0", "280\n", "72\n", "0x40c1\n", true},  // up, CAN FD
    {"can1", "280\n", "16\n", "0x1\n", true},     // classic CAN
    {"eth0", "1\n", "1500\n", "0x1003\n", true},  // Ethernet
    {"lo", "772\n", "65536\n", "0x9\n", false},   // loopback
    {"slcan0", "280", "72", "0x1", true},         // no line ends
    {"can3", "280\n", std::nullopt, std::nullopt, false},
    {"can4", "280\n", "seventy-two\n", "up\n", true},
    {"can5", "281\n", "72\n", "0x1\n", true},
    {"canx", std::nullopt, "72\n", "0x1\n", true},
    {"can6", "280 x\n", "72\n", "0x1\n", true},
    {"vcan name", "280\n", "72\n", "0x1\n", false},  // white space: not a kernel name
    {"sixteen_chars_xx", "280\n", "72\n", "0x1\n", false},
};

TEST_F(FakeSysfs, ListsEveryCanInterfaceByNameWithItsState) {
    for (const Entry& e : kTree) {
        add(e);
    }
    write(fs::path(net) / "bonding_masters", "\n");  // a file beside the interfaces
    EXPECT_EQ(
        describe(list_can_interfaces(net)),
        (std::vector<std::string>{"can0 fd up real", "can1 classic up real", "can2 fd down real",
                                  "can3 classic down virtual", "can4 classic down real",
                                  "slcan0 fd up real", "vcan0 fd up virtual"}));
}

TEST_F(FakeSysfs, StateOfOneInterface) {
    for (const Entry& e : kTree) {
        add(e);
    }
    struct Case {
        std::string name;
        std::string state;  // "" when absent or not CAN
    };
    for (const Case& c :
         {Case{"can0", "can0 fd up real"}, Case{"can1", "can1 classic up real"},
          Case{"can2", "can2 fd down real"}, Case{"vcan0", "vcan0 fd up virtual"}, Case{"eth0", ""},
          Case{"lo", ""}, Case{"can5", ""}, Case{"canx", ""}, Case{"nothere", ""}, Case{"", ""},
          Case{".", ""}, Case{"..", ""}, Case{"../net/can0", ""}, Case{"can0/", ""},
          Case{"vcan name", ""}, Case{"sixteen_chars_xx", ""}}) {
        CanInterface got;
        got.name = "untouched";
        const bool found = can_interface_state(c.name, &got, net);
        EXPECT_EQ(found, !c.state.empty()) << "'" << c.name << "'";
        EXPECT_EQ(found ? describe(got) : got.name, found ? c.state : "untouched")
            << "'" << c.name << "'";
        EXPECT_EQ(can_interface_state(c.name, nullptr, net), found) << "'" << c.name << "'";
    }
}

TEST_F(FakeSysfs, NoSysfsMeansNoInterfaces) {
    EXPECT_TRUE(list_can_interfaces(net).empty());
    EXPECT_TRUE(list_can_interfaces((root / "missing").string()).empty());
    EXPECT_FALSE(can_interface_state("can0", nullptr, (root / "missing").string()));
}

TEST(CanFdUpCommand, NamesTheInterfaceAndItsSetUp) {
    const std::string real_tail = " up type can bitrate 500000 dbitrate 2000000 fd on";
    struct Case {
        std::string name;
        bool is_virtual;
        std::string command;
    };
    for (const Case& c : {
             Case{"can0", false, "sudo ip link set can0" + real_tail},
             Case{"vcan0", true, "sudo ip link set vcan0 mtu 72 up"},
             Case{"fifteen_chars_x", false, "sudo ip link set fifteen_chars_x" + real_tail},
             Case{"can-usb.1@x", true, "sudo ip link set can-usb.1@x mtu 72 up"},
             Case{"can$(reboot)", true, "sudo ip link set 'can$(reboot)' mtu 72 up"},
             Case{"it's", false, "sudo ip link set 'it'\\''s'" + real_tail},
             Case{"", false, ""},
             Case{"sixteen_chars_xx", false, ""},
             Case{"a/b", true, ""},
             Case{"can 0", false, ""},
             Case{"can\t0", false, ""},
             Case{"can:0", false, ""},
             Case{".", true, ""},
             Case{"..", false, ""},
             Case{std::string("can\0x", 5), false, ""},
         }) {
        CanInterface iface;
        iface.name = c.name;
        iface.is_virtual = c.is_virtual;
        EXPECT_EQ(can_fd_up_command(iface), c.command) << "'" << c.name << "'";
        EXPECT_EQ(can_interface_name_valid(c.name), !c.command.empty()) << "'" << c.name << "'";
    }
}

// The README tells users the same rates for setting up can0 by hand.
TEST(CanFdUpCommand, RatesAgreeWithTheReadme) {
    std::ifstream readme(EFIS_SOURCE_DIR "/README.md");
    ASSERT_TRUE(readme) << "README.md";
    std::stringstream text;
    text << readme.rdbuf();
    CanInterface can0;
    can0.name = "can0";
    const std::string command = can_fd_up_command(can0);
    const size_t rates = command.find(" bitrate ");
    ASSERT_NE(rates, std::string::npos) << command;
    EXPECT_NE(text.str().find(command.substr(rates)), std::string::npos)
        << "README.md lacks '" << command.substr(rates) << "'";
}

}  // namespace
