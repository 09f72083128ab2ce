// Which /dev/lircN a wave goes out on: a fake board whose device tree, sysfs and
// devices are laid out as the kernel lays them out (drivers/media/rc/rc-main.c,
// lirc_dev.c, drivers/base/core.c), in each order the drivers can register in.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <unistd.h>

#include <gtest/gtest.h>

#include "case_name.h"
#include "fake_device.h"
#include "lirc_test.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

void link(const std::string& target, const std::string& at)
{
    ASSERT_EQ(symlink(target.c_str(), at.c_str()), 0) << at << ": " << std::strerror(errno);
}

// A board's device tree and sysfs, and its /dev/lirc devices in the fake.
class Board {
  public:
    Board(const TempDir& tree, const TempDir& sysfs) : tree_(tree), sysfs_(sysfs)
    {
        sysfs_.write("class/lirc/.keep", "");
        sysfs_.write("class/rc/.keep", "");
    }

    // A node like the one dtoverlay=gpio-ir-tx,gpio_pin=N makes.
    void node(const std::string& name, uint32_t gpio) const
    {
        tree_.write(name + "/compatible", std::string("gpio-ir-tx\0", 11));
        tree_.write(name + "/gpios", cells({0x8b, gpio, 0}));
    }

    // /dev/lircN of the gpio-ir-tx driver bound to the node: a platform device with
    // the node as its of_node, its rc device and the rc device's lirc device.
    fake_lirc::Device& gpioTransmitter(unsigned n, const std::string& node) const
    {
        const std::string platform = "devices/platform/" + node;
        sysfs_.write("bus/platform/drivers/gpio-ir-tx/.keep", "");
        sysfs_.write(platform + "/uevent", "OF_NAME=" + node + "\n");
        link(tree_.file(node), sysfs_.file(platform + "/of_node"));
        link("../../../bus/platform/drivers/gpio-ir-tx", sysfs_.file(platform + "/driver"));
        rcDevice(n, platform + "/rc", "../../../" + node);
        return fake_lirc::add(device(n));
    }

    // rc-loopback's: an rc device without a parent.
    fake_lirc::Device& loopback(unsigned n) const
    {
        rcDevice(n, "devices/virtual/rc", "");
        return fake_lirc::add(device(n));
    }

    // A USB transmitter's: its parent is a USB interface, which has no of_node.
    fake_lirc::Device& usb(unsigned n) const
    {
        const std::string interface = "devices/pci0000:00/0000:00:14.0/usb1/1-" +
                                      std::to_string(n + 1) + "/1-" + std::to_string(n + 1) +
                                      ":1.0";
        sysfs_.write(interface + "/uevent", "DEVTYPE=usb_interface\n");
        rcDevice(n, interface + "/rc", "../../../1-" + std::to_string(n + 1) + ":1.0");
        return fake_lirc::add(device(n));
    }

    // The tree read through a link, as /proc/device-tree links to
    // /sys/firmware/devicetree/base, to which the of_node links lead.
    void treeThroughALink() const
    {
        link(tree_.path(), sysfs_.file("device-tree"));
        setenv("PIGPIO_LIRC_DT_ROOT", sysfs_.file("device-tree").c_str(), 1);
    }

    static std::string device(unsigned n)
    {
        return "/dev/lirc" + std::to_string(n);
    }

  private:
    // rcN in `folder`, with lircN in it, as /sys/class/rc/rcN and /sys/class/lirc/lircN.
    void rcDevice(unsigned n, const std::string& folder, const std::string& parent) const
    {
        const std::string rc = folder + "/rc" + std::to_string(n);
        const std::string lirc = rc + "/lirc" + std::to_string(n);
        sysfs_.write(lirc + "/dev", "251:" + std::to_string(n) + "\n");
        if (!parent.empty()) {
            link(parent, sysfs_.file(rc + "/device"));
        }
        link("../../rc" + std::to_string(n), sysfs_.file(lirc + "/device"));
        link("../../" + rc, sysfs_.file("class/rc/rc" + std::to_string(n)));
        link("../../" + lirc, sysfs_.file("class/lirc/lirc" + std::to_string(n)));
    }

    const TempDir& tree_;
    const TempDir& sysfs_;
};

struct Choice {
    const char* what;
    std::function<void(const Board&)> setUp;
    unsigned gpio;    // of the wave
    int sentOn;       // the lirc number that got the frame, or -1
    int created;      // gpioWaveCreate's answer: 0, or the refusal
    std::string said; // on stderr, from gpioInitialise or gpioWaveCreate
};

const std::string kNode24 = "gpio-ir-transmitter@18";
const std::string kNode18 = "gpio-ir-transmitter@12";

std::vector<Choice> choices()
{
    return {
        {"bound_as_lirc0",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode24);
             b.gpioTransmitter(1, kNode18);
         },
         24, 0, 0, ""},
        {"bound_as_lirc1",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
             b.gpioTransmitter(1, kNode24);
         },
         24, 1, 0, ""},
        {"the_other_gpio",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
             b.gpioTransmitter(1, kNode24);
         },
         18, 0, 0, ""},
        {"tree_through_a_link",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
             b.gpioTransmitter(1, kNode24);
             b.treeThroughALink();
         },
         24, 1, 0, ""},
        {"loopback_registered_first",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.loopback(0);
             b.gpioTransmitter(1, kNode24);
         },
         24, 1, 0, ""},
        {"usb_registered_first",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.usb(0);
             b.gpioTransmitter(1, kNode24);
         },
         24, 1, 0, ""},
        {"usb_only", [](const Board& b) { b.usb(0); }, 24, 0, 0, ""},
        {"several_usb",
         [](const Board& b) {
             b.usb(0);
             b.loopback(1);
             b.usb(2);
         },
         24, 0, 0,
         "several IR transmitters (/dev/lirc0, /dev/lirc1 and /dev/lirc2): this sends with the "
         "first, /dev/lirc0; name the one to use in PIGPIO_LIRC_DEVICE"},
        {"node_without_driver",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
         },
         24, -1, -41,
         "the IR transmitter for GPIO 24 (gpio-ir-tx in the device tree, TREE/" + kNode24 +
             ") has no driver bound: the gpio-ir-tx driver is loaded but not bound to it"},
        {"bound_but_not_for_this_user",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode24).openErrno = EACCES;
             b.gpioTransmitter(1, kNode18);
         },
         24, -1, -41, std::string("cannot open /dev/lirc0: ") + std::strerror(EACCES)},
        {"no_node_on_the_gpio",
         [](const Board& b) {
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
         },
         24, -1, -41,
         "the wave is for GPIO 24, but the IR transmitter (gpio-ir-tx in the device tree) is on "
         "GPIO 18: put dtoverlay=gpio-ir-tx,gpio_pin=24 in /boot/firmware/config.txt and reboot"},
        {"named_on_another_gpio",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode24);
             b.gpioTransmitter(1, kNode18);
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc1", 1);
         },
         24, -1, -41,
         "the wave is for GPIO 24, but /dev/lirc1 (PIGPIO_LIRC_DEVICE) is the IR transmitter on "
         "GPIO 18 (gpio-ir-tx in the device tree): unset PIGPIO_LIRC_DEVICE, or name the "
         "transmitter on GPIO 24"},
        {"named_alone_on_another_gpio",
         [](const Board& b) {
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc0", 1);
         },
         24, -1, -41,
         "/dev/lirc0 (PIGPIO_LIRC_DEVICE) is the IR transmitter on GPIO 18 (gpio-ir-tx in the "
         "device tree): put dtoverlay=gpio-ir-tx,gpio_pin=24 in /boot/firmware/config.txt and "
         "reboot"},
        {"named_on_the_gpio",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.gpioTransmitter(0, kNode24);
             b.usb(1);
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc0", 1);
         },
         24, 0, 0, ""},
        {"named_usb_beside_the_tree",
         [](const Board& b) {
             b.node(kNode18, 18);
             b.gpioTransmitter(0, kNode18);
             b.usb(1);
             setenv("PIGPIO_LIRC_DEVICE", "/dev/lirc1", 1);
         },
         24, 1, 0, ""},
    };
}

class ChoiceTest : public LibraryTest, public ::testing::WithParamInterface<Choice> {};

TEST_P(ChoiceTest, SendsOnTheWavesGpioOrNotAtAll)
{
    const Board board(tree(), sysfs());
    GetParam().setUp(board);
    CaptureStderr();
    ASSERT_EQ(gpioInitialise(), PIGPIO_VERSION) << GetCapturedStderr();
    const int created = create(necRecords("1", GetParam().gpio));
    if (created >= 0) {
        EXPECT_EQ(gpioWaveTxSend(static_cast<unsigned>(created), PI_WAVE_MODE_ONE_SHOT), 5);
    }
    const std::string said = GetCapturedStderr();
    EXPECT_EQ(created, GetParam().created);
    std::string expected = GetParam().said;
    for (size_t at = expected.find("TREE"); at != std::string::npos; at = expected.find("TREE")) {
        expected.replace(at, 4, tree().path());
    }
    if (expected.empty()) {
        EXPECT_EQ(said, "");
    } else {
        EXPECT_TRUE(contains(said, expected));
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
    // The frame went to the device asked for, and to no other.
    for (unsigned n = 0; n < 4; ++n) {
        const fake_lirc::Device* device = fake_lirc::find(Board::device(n));
        if (device != nullptr) {
            EXPECT_EQ(device->writes.size(), static_cast<int>(n) == GetParam().sentOn ? 1u : 0u)
                << device->path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ChoiceTest, ::testing::ValuesIn(choices()), caseName<Choice>);

// Where the tree has gpio-ir-tx nodes and no device can be had for any of them,
// nothing can be sent: pigpio does not start.
struct NoTransmitter {
    const char* what;
    std::function<void(const Board&)> setUp;
    std::string said;
};

std::vector<NoTransmitter> noTransmitters()
{
    return {
        {"driver_not_loaded",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.loopback(0);
         },
         "no driver is bound to the IR transmitter in the device tree (gpio-ir-tx on GPIO 24, "
         "TREE/" +
             kNode24 + "): the gpio-ir-tx driver is not loaded (sudo modprobe gpio-ir-tx)"},
        {"no_device_at_all",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.node(kNode18, 18);
         },
         "no driver is bound to the IR transmitters in the device tree (gpio-ir-tx on GPIO 18, "
         "TREE/" +
             kNode18 + " and GPIO 24, TREE/" + kNode24 + "): the gpio-ir-tx driver is not loaded"},
        {"not_for_this_user",
         [](const Board& b) {
             b.node(kNode24, 24);
             b.gpioTransmitter(0, kNode24).openErrno = EACCES;
         },
         std::string("cannot open /dev/lirc0: ") + std::strerror(EACCES)},
    };
}

class NoTransmitterTest : public LibraryTest,
                          public ::testing::WithParamInterface<NoTransmitter> {};

TEST_P(NoTransmitterTest, InitialisationFailsWithANote)
{
    const Board board(tree(), sysfs());
    GetParam().setUp(board);
    const auto [result, said] = initialise();
    EXPECT_EQ(result, PI_INIT_FAILED);
    std::string expected = GetParam().said;
    for (size_t at = expected.find("TREE"); at != std::string::npos; at = expected.find("TREE")) {
        expected.replace(at, 4, tree().path());
    }
    EXPECT_TRUE(contains(said, "gpioInitialise: " + expected));
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(fake_lirc::openCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NoTransmitterTest, ::testing::ValuesIn(noTransmitters()),
                         caseName<NoTransmitter>);

} // namespace
