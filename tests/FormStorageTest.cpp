// The placement keeper against a fake window system and a real settings file.
#include <gtest/gtest.h>

#include "FormStorage.h"
#include "TempDir.h"

namespace kordel {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

constexpr const char* Name = "Kordel_Update.ini";

class FakeWindow : public TPlacementWindow {
  public:
    TWindowPlacement GetPlacement() override { return placement; }
    void SetPlacement(const TWindowPlacement& p) override {
        placement.normalPosition = p.normalPosition;
        moved = true;
    }
    bool ApplicationMinimized() override { return minimized; }
    int ScreenPixelsPerInch() override { return ppi; }
    TPoint VirtualDesktopSize() override { return desktop; }
    bool PointOnMonitor(TPoint p) override {
        return p.x >= 0 && p.y >= 0 && p.x < desktop.x && p.y < desktop.y;
    }
    void UseOwnPosition() override {}
    void SetWindowState(TWindowState s) override { states.push_back(s); }
    void PostMinimize() override { minimizePosted = true; }
    TPoint ThinBorder() override { return {1, 1}; }

    // A window the window system placed at 412,236 with an outer size of 371 x 224.
    TWindowPlacement placement{0, ShowCmdNormal, {-1, -1}, {-1, -1}, {412, 236, 783, 460}};
    int ppi = 96;
    TPoint desktop{1920, 1080};
    bool minimized = false;
    bool moved = false;
    bool minimizePosted = false;
    std::vector<TWindowState> states;
};

// One run of the tool: load, restore at the first show, read the port, save at close,
// write the port.
struct ToolRun {
    explicit ToolRun(FakeWindow& w) : window(w), keeper(ini, window, "Main") {
        ini.SetFileName(Name);
    }
    void Start() {
        keeper.RestoreFormPlacement();
        ini.DefaultSection = "CONFIG";
        port = ini.ReadString("ComPort", "");
    }
    void Close(const std::string& selected) {
        keeper.SaveFormPlacement();
        ini.DefaultSection = "CONFIG";
        ini.WriteString("ComPort", selected);
    }
    FakeWindow& window;
    TIniFile ini;
    TFormStorage keeper;
    std::string port;
};

const std::string FirstRunFile =
    "[Main]\r\nFormVersion=0\r\nShowCmd=1\r\nFlags=0\r\nPixelsPerInch=96\r\n"
    "MinMaxPos(1920x1080)=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\n"
    "NormPos(1920x1080)=412,236,783,460\r\nNormPos=412,236,783,460\r\n\r\n"
    "[CONFIG]\r\nComPort=COM3\r\n\r\n";

TEST(FormStorageTest, FirstRunCreatesAnEmptyFileThenWritesTheExample) {
    TempDir dir;
    FakeWindow window;
    {
        ToolRun run(window);
        run.Start();
        EXPECT_EQ(ReadFile(Name), "") << "created empty at the first show";
        EXPECT_FALSE(window.moved);
        EXPECT_EQ(window.states, std::vector<TWindowState>{TWindowState::Normal});
        run.Close("COM3");
    }
    EXPECT_EQ(ReadFile(Name), FirstRunFile);
}

TEST(FormStorageTest, SecondRunRestoresThePositionWithTheWindowsOwnSize) {
    TempDir dir;
    WriteFile(Name, FirstRunFile);
    FakeWindow window;
    window.placement.normalPosition = {0, 0, 300, 200};
    ToolRun run(window);
    run.Start();
    EXPECT_TRUE(window.moved);
    const TRect r = window.placement.normalPosition;
    EXPECT_EQ((std::vector<int>{r.left, r.top, r.right, r.bottom}),
              (std::vector<int>{412, 236, 712, 436}));
    EXPECT_EQ(run.port, "COM3");
}

struct RestoreCase {
    const char* name;
    std::string main;  // the [Main] section's entries
    TPoint desktop;
    int ppi;
    bool moved;
    std::vector<TWindowState> states;
    bool minimizePosted;
};

class RestoreTest : public ::testing::TestWithParam<RestoreCase> {};

TEST_P(RestoreTest, AppliesWhatTheFileAllows) {
    const auto& c = GetParam();
    TempDir dir;
    WriteFile(Name, "[Main]\r\n" + c.main);
    FakeWindow window;
    window.desktop = c.desktop;
    window.ppi = c.ppi;
    ToolRun run(window);
    run.Start();
    EXPECT_EQ(window.moved, c.moved);
    EXPECT_EQ(window.states, c.states);
    EXPECT_EQ(window.minimizePosted, c.minimizePosted);
}

const TPoint FullHd{1920, 1080};

INSTANTIATE_TEST_SUITE_P(
    Files, RestoreTest,
    ::testing::Values(RestoreCase{"Minimised",
                                  "ShowCmd=2\r\nNormPos=10,10,381,234\r\n",
                                  FullHd,
                                  96,
                                  true,
                                  {TWindowState::Normal},
                                  true},
                      RestoreCase{"OtherPixelsPerInch",
                                  "ShowCmd=1\r\nPixelsPerInch=120\r\nNormPos=10,10,381,234\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"OffEveryMonitor",
                                  "ShowCmd=1\r\nNormPos=2500,10,2871,234\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"UnknownShowCmdNoPosition",
                                  "ShowCmd=0\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Maximized},
                                  false},
                      RestoreCase{"UnknownShowCmdWithPosition",
                                  "ShowCmd=0\r\nNormPos=10,10\r\n",
                                  FullHd,
                                  96,
                                  true,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"VersionTooLow",
                                  "FormVersion=-1\r\nShowCmd=2\r\nNormPos=10,10,381,234\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {},
                                  false},
                      RestoreCase{"SuffixedKeyWins",
                                  "NormPos(1920x1080)=2500,0,2871,224\r\nNormPos=10,10,381,234\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      // Hand-edited positions whose corners lie beyond any coordinate:
                      // not applied, and no overflow on the way.
                      RestoreCase{"LeftAtTheIntegerLimit",
                                  "ShowCmd=1\r\nNormPos=2147483647,0\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"TopAtTheIntegerLimit",
                                  "ShowCmd=1\r\nNormPos=0,2147483600\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"LowestLeft",
                                  "ShowCmd=1\r\nNormPos=-2147483648,-2147483648\r\n",
                                  FullHd,
                                  96,
                                  false,
                                  {TWindowState::Normal},
                                  false},
                      RestoreCase{"PlainKeyOnANewDesktop",
                                  "NormPos(1920x1080)=2500,0,2871,224\r\nNormPos=10,10,381,234\r\n",
                                  TPoint{3840, 1080},
                                  96,
                                  true,
                                  {TWindowState::Normal},
                                  false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FormStorageTest, NewDesktopSizeAppendsItsKeysAndKeepsTheOldOnes) {
    TempDir dir;
    WriteFile(Name, FirstRunFile);
    FakeWindow window;
    window.desktop = {3840, 1080};
    ToolRun run(window);
    run.Start();
    run.Close("COM3");
    EXPECT_EQ(ReadFile(Name),
              "[Main]\r\nFormVersion=0\r\nShowCmd=1\r\nFlags=0\r\nPixelsPerInch=96\r\n"
              "MinMaxPos(1920x1080)=-1,-1,-1,-1\r\nMinMaxPos=-1,-1,-1,-1\r\n"
              "NormPos(1920x1080)=412,236,783,460\r\nNormPos=412,236,783,460\r\n"
              "MinMaxPos(3840x1080)=-1,-1,-1,-1\r\nNormPos(3840x1080)=412,236,783,460\r\n\r\n"
              "[CONFIG]\r\nComPort=COM3\r\n\r\n");
}

TEST(FormStorageTest, VersionTooLowStillSavesTheCurrentPlacement) {
    TempDir dir;
    WriteFile(Name, "[Main]\r\nFormVersion=-1\r\n");
    FakeWindow window;
    window.minimized = true;
    ToolRun run(window);
    run.Start();
    run.Close("COM1");
    const std::string file = ReadFile(Name);
    EXPECT_NE(file.find("FormVersion=0\r\nShowCmd=2\r\n"), std::string::npos) << file;
    EXPECT_NE(file.find("NormPos=412,236,783,460\r\n"), std::string::npos) << file;
}

TEST(FormStorageTest, BadNumberEndsTheRestoreAndStaysInTheFile) {
    TempDir dir;
    WriteFile(Name, "[Main]\r\nShowCmd=abc\r\nNormPos=10,10,381,234\r\n");
    FakeWindow window;
    ToolRun run(window);
    try {
        run.keeper.RestoreFormPlacement();
        FAIL() << "no conversion error";
    } catch (const EConvertError& e) {
        EXPECT_EQ(std::string(e.what()), "'abc' is not a valid integer value");
    }
    EXPECT_TRUE(window.moved) << "what was applied before stays applied";
    EXPECT_FALSE(run.keeper.Restored());
    run.Close("COM1");
    EXPECT_EQ(ReadFile(Name),
              "[Main]\r\nShowCmd=abc\r\nNormPos=10,10,381,234\r\nFormVersion=0\r\n\r\n"
              "[CONFIG]\r\nComPort=COM1\r\n\r\n");
}

}  // namespace
}  // namespace kordel
