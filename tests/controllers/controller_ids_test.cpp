// The controller identifiers from a file: what a file says, which interfaces the link then
// takes, and the access rule written for them.
#include <gtest/gtest.h>

#include <fstream>

#include "device/ControllerIds.h"
#include "device/ControllerLink.h"
#include "platform/Convert.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"
#include "tests/device/FakeView.h"

using namespace tc;
using namespace tc::device;

namespace {

// The tables in force for one test, the built-in ones again after it.
struct InForce {
    explicit InForce(ControllerIds ids) { setControllerIds(std::move(ids)); }
    ~InForce() { setControllerIds(builtInControllerIds()); }
};

// The link over the virtual controller presenting `vendor`:`product` on both interfaces.
struct Rig {
    platform::VirtualEventLoop loop;
    sim::hid::VirtualController sim;
    HidCtrl ctrl;
    test::FakeView view;
    ControllerLink link;
    static sim::hid::Scenario scenario(std::uint16_t vendor, std::uint16_t product) {
        auto s = sim::hid::defaultScenario();
        s.vendorId = vendor;
        s.productId = product;
        return s;
    }
    Rig(std::uint16_t vendor, std::uint16_t product)
        : sim(loop, scenario(vendor, product)), ctrl(loop, sim), link(ctrl, view) {
        link.connectHandlers();
        loop.runPending();
    }
};

}  // namespace

TEST(ControllerFile, ReadsEveryKindInTableOrder) {
    const auto ids = parseControllerIds(
        "# line PC 3\r\n"
        "\r\n"
        "  data\t0A2D:0F20   # the old one\r\n"
        "family 1b2f:4200\r\n"
        "command 1b2f:5001\n"
        "data 1B2F:4255\n"
        "command 0a2d:0f20",
        "x.conf");
    EXPECT_EQ(ids.family, (IdPair{0x1B2F, 0x4200}));
    EXPECT_EQ(ids.data, (std::vector<IdPair>{{0x0A2D, 0x0F20}, {0x1B2F, 0x4255}}));
    EXPECT_EQ(ids.command, (std::vector<IdPair>{{0x1B2F, 0x5001}, {0x0A2D, 0x0F20}}));
    // The example file the package ships is the built-in set.
    EXPECT_EQ(loadControllerIds(TOUCHCAL_SOURCE_DIR "/packaging/controllers.conf.example"),
              builtInControllerIds());
}

TEST(ControllerFile, TheTablesInForceDecideWhichControllerTheLinkTakes) {
    struct Case {
        const char* file;  // nullptr: the built-in tables
        std::uint16_t vendor, product;
        bool data, command;  // the interfaces the link holds
    } cases[] = {
        {nullptr, 0x1B2F, 0x4100, true, true},
        {nullptr, 0x1B2F, 0x41FE, true, true},                 // the built-in family
        {nullptr, 0x1B2F, 0x4255, false, false},               // outside it
        {"family 1b2f:4200\n", 0x1B2F, 0x4255, true, true},    // a file that widens the family
        {"family 1b2f:4200\n", 0x1B2F, 0x4100, false, false},  // ... and replaces the built-in
        {"data 1b2f:4255\ncommand 1b2f:4255\n", 0x1B2F, 0x4255, true, true},
        {"data 1b2f:4255\n", 0x1B2F, 0x4255, true, false},
        {"command 1b2f:4255\n", 0x1B2F, 0x4255, false, true},
        {"data 0a2d:0f30\ncommand 0a2d:0f30\n", 0x0A2D, 0x0F31, false, false},  // exact pairs
    };
    for (const auto& c : cases) {
        InForce tables(c.file ? parseControllerIds(c.file, "x.conf") : builtInControllerIds());
        Rig r(c.vendor, c.product);
        const std::string what =
            std::string(c.file ? c.file : "built-in") + " " + platform::intToHex(c.product, 4);
        EXPECT_EQ(r.link.DataDevice() != nullptr, c.data) << what;
        EXPECT_EQ(r.link.FeatureDevice() != nullptr, c.command) << what;
        EXPECT_EQ(r.view.labelDevice, c.data ? "Device: PlugIn" : "Device: PlugOut") << what;
    }
}

TEST(ControllerFile, TheAccessRuleCoversEveryPairOnceAndThePackagedOneIsTheBuiltIn) {
    std::ifstream packaged(TOUCHCAL_SOURCE_DIR "/packaging/udev/70-touchcal.rules",
                           std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(packaged)), {});
    EXPECT_EQ(udevRule(builtInControllerIds()), text);

    const auto rule =
        udevRule(parseControllerIds("data 0a2d:0f30\ncommand 0a2d:0f30\ncommand 1b2f:5001\n", "x"));
    const auto match = [](const char* v, const char* p) {
        return std::string("SUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"") + v +
               "\", ATTRS{idProduct}==\"" + p +
               "\", TAG+=\"uaccess\", GROUP=\"touchcal\", MODE=\"0660\"\n";
    };
    EXPECT_EQ(rule.substr(rule.find("\n\n")),
              "\n\n# 0a2d:0f30 (data and command).\n" + match("0a2d", "0f30") +
                  "\n# 1b2f:5001 (command).\n" + match("1b2f", "5001"));
}
