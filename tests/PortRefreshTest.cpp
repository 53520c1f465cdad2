// The main window's port-list refresh over a fake view: a platform list that cannot be
// read leaves the selector's entries as they were.
#include <gtest/gtest.h>

#include <filesystem>

#include "MainController.h"

namespace kordel {
namespace {

namespace fs = std::filesystem;

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
    ASSERT_EQ(view.shown.Items, (std::vector<std::string>{"ttyACM1", "ttyACM3"}));

    view.shown.ItemIndex = 1;  // the user picks the second port
    fs::remove_all(root);      // from now on the list cannot be read
    controller.cbPortDropDown();
    EXPECT_EQ(view.shown.Items, (std::vector<std::string>{"ttyACM1", "ttyACM3"}));
    EXPECT_EQ(view.PortText(), "ttyACM3");
}

}  // namespace
}  // namespace kordel
