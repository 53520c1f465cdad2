// Port names as the window's list shows them and the settings file keeps them.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "MainController.h"
#include "TempDir.h"

using namespace kordel;

TEST(ShortPortName, DropsTheDeviceFolderOnly) {
    const struct {
        const char* name;
        const char* shown;
    } cases[] = {
        {"/dev/ttyUSB0", "ttyUSB0"},
        {"/dev/pts/3", "pts/3"},
        {"/dev/ttyACM10", "ttyACM10"},
        {"COM3", "COM3"},
        {"/tmp/x/ttySIM", "/tmp/x/ttySIM"},
        {"/devices/ttyS0", "/devices/ttyS0"},
        {"/dev/", "/dev/"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(ShortPortName(c.name), c.shown) << c.name;
    EXPECT_EQ(ShortPortName("/tmp/d/ttyX", "/tmp/d/"), "ttyX");
}

TEST(PortDevicePath, FindsTheShownNameInTheDeviceFolder) {
    kordel::testing::TempDir dir;
    const std::string devDir = dir.Path().string();
    std::filesystem::create_directory(dir.Path() / "pts");
    std::ofstream(dir.Path() / "ttyUSB0").put('x');
    std::ofstream(dir.Path() / "pts" / "3").put('x');
    EXPECT_EQ(PortDevicePath("ttyUSB0", devDir), devDir + "/ttyUSB0");
    EXPECT_EQ(PortDevicePath("pts/3", devDir), devDir + "/pts/3");
    // Names the folder does not hold, full paths and nothing at all stay as they are.
    EXPECT_EQ(PortDevicePath("COM3", devDir), "COM3");
    EXPECT_EQ(PortDevicePath("/elsewhere/ttyUSB0", devDir), "/elsewhere/ttyUSB0");
    EXPECT_EQ(PortDevicePath("", devDir), "");
}

TEST(ShowShortPortNames, SelectsTheRememberedPortWrittenEitherWay) {
    const struct {
        const char* remembered;
        int index;
    } cases[] = {
        {"ttyUSB1", 1}, {"/dev/ttyUSB1", 1}, {"TTYUSB1", 1}, {"pts/2", 0}, {"ttyUSB9", 0},
        {"", 0},        {"COM7", 2},
    };
    for (const auto& c : cases) {
        TPortSelector selector;
        selector.Items = {"/dev/pts/2", "/dev/ttyUSB1", "COM7"};
        ShowShortPortNames(selector, c.remembered);
        EXPECT_EQ(selector.Items, (std::vector<std::string>{"pts/2", "ttyUSB1", "COM7"}));
        EXPECT_EQ(selector.ItemIndex, c.index) << c.remembered;
    }
    TPortSelector empty;
    ShowShortPortNames(empty, "ttyUSB0");
    EXPECT_EQ(empty.ItemIndex, -1);
}
