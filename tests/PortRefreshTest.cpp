// The main window's port list over a fake view: the names it shows, what Connect opens
// for the one selected, the box's tool tip, and a refresh of a platform list that
// cannot be read, which leaves the selector's entries as they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "MainController.h"

namespace kordel {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> NamesOf(const std::vector<TPortEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.Name);
    return names;
}

class ListView final : public TMainView, public TPlacementWindow {
  public:
    TPortSelector shown;
    void SetPortList(const TPortSelector& selector) override { shown = selector; }
    std::string PortText() override { return shown.Text(); }

    void SetTitle(const std::string&) override {}
    void SetBiosLabels(const std::string&, const std::string&) override {}
    void SetStatus(const std::string&) override {}
    void SetProgressMaximum(std::uint32_t) override {}
    void SetProgressPosition(std::uint32_t) override {}
    void SetStartEnabled(bool) override {}
    void ProcessPendingEvents() override {}
    void ShowUpdateError(const std::string&) override {}
    void ShowStandardError(const std::string&) override {}
    void RequestEnd() override {}
    void CloseWindow() override {}
    std::vector<std::string> Arguments() override { return {}; }
    bool DevEnvironmentPresent() override { return false; }
    void ShowDebugLog() override {}
    void LogLine(const std::string&) override {}
    std::string ExecutablePath() override { return {}; }

    TWindowPlacement GetPlacement() override { return {}; }
    void SetPlacement(const TWindowPlacement&) override {}
    bool ApplicationMinimized() override { return false; }
    int ScreenPixelsPerInch() override { return 96; }
    TPoint VirtualDesktopSize() override { return {1920, 1080}; }
    bool PointOnMonitor(TPoint) override { return true; }
    void UseOwnPosition() override {}
    void SetWindowState(TWindowState) override {}
    void PostMinimize() override {}
    TPoint ThinBorder() override { return {1, 1}; }
};

struct Window {
    explicit Window(const TPortListSource& ports)
        : placement(settings, view, "Main"), controller(view, settings, placement, ports) {}
    ListView view;
    TIniFile settings;
    TFormStorage placement;
    TMainController controller;
};

// The entry with the shown name says what to open; no device folder is looked into.
TEST(PortRefreshTest, ConnectOpensTheSelectedEntrysDevice) {
    const fs::path root = fs::temp_directory_path() / ("kordel-open-" + std::to_string(::getpid()));
    fs::create_directories(root / "devices/ttyACM1");
    fs::create_directories(root / "tty/ttyACM1");
    fs::create_directory_symlink(root / "devices/ttyACM1", root / "tty/ttyACM1/device");
    TPortListSource ports;
    ports.sysfsTtyRoot = (root / "tty").string();
    // "null" is no path: it stays what it is, though the device folder /dev has a null.
    ports.extraPorts = "/dev/pts/7:/tmp/kordel-sim/ttySIM:null";
    ports.devDir = "/dev";
    Window window(ports);
    window.controller.cbPortDropDown();
    EXPECT_EQ(NamesOf(window.view.shown.Items),
              (std::vector<std::string>{"/tmp/kordel-sim/ttySIM", "null", "pts/7", "ttyACM1"}));
    const struct {
        int index;
        const char* opened;
    } cases[] = {
        {0, "/tmp/kordel-sim/ttySIM"}, {1, "null"}, {2, "/dev/pts/7"}, {3, "/dev/ttyACM1"}};
    for (const auto& c : cases) {
        window.view.shown.ItemIndex = c.index;
        EXPECT_EQ(window.controller.SelectedPortToOpen(), c.opened) << c.index;
    }
    window.view.shown.ItemIndex = -1;
    EXPECT_EQ(window.controller.SelectedPortToOpen(), "") << "nothing selected: nothing to open";
    fs::remove_all(root);
}

TEST(PortRefreshTest, PortBoxHintAddsACutNameWhole) {
    EXPECT_EQ(PortBoxHint("COM3", true), "Select COM-Port for Halvern");
    EXPECT_EQ(PortBoxHint("", false), "Select COM-Port for Halvern");
    EXPECT_EQ(PortBoxHint("/tmp/new-port-name", false),
              "Select COM-Port for Halvern\n/tmp/new-port-name");
}

TEST(PortRefreshTest, UnreadableListKeepsTheSelectorsEntries) {
    const fs::path root =
        fs::temp_directory_path() / ("kordel-refresh-" + std::to_string(::getpid()));
    for (const char* name : {"ttyACM3", "ttyACM1"}) {
        fs::create_directories(root / "devices" / name);
        fs::create_directories(root / "tty" / name);
        fs::create_directory_symlink(root / "devices" / name, root / "tty" / name / "device");
    }
    ListView view;
    TIniFile settings;
    TFormStorage placement(settings, view, "Main");
    TPortListSource ports;
    ports.sysfsTtyRoot = (root / "tty").string();
    ports.extraPorts = "";
    TMainController controller(view, settings, placement, ports);
    controller.cbPortDropDown();
    ASSERT_EQ(NamesOf(view.shown.Items), (std::vector<std::string>{"ttyACM1", "ttyACM3"}));

    view.shown.ItemIndex = 1;  // the user picks the second port
    fs::remove_all(root);      // from now on the list cannot be read
    controller.cbPortDropDown();
    EXPECT_EQ(NamesOf(view.shown.Items), (std::vector<std::string>{"ttyACM1", "ttyACM3"}));
    EXPECT_EQ(view.PortText(), "ttyACM3");
}

}  // namespace
}  // namespace kordel
