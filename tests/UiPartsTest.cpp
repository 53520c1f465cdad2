// The dialog layout arithmetic, the debug log's line formats, the distribution copy and
// the progress bar's shown values.
#include <gtest/gtest.h>

#include "DebugLog.h"
#include "DistCopy.h"
#include "MainController.h"
#include "MsgBoxLayout.h"
#include "StartFocus.h"
#include "TempDir.h"

namespace kordel {
namespace {

struct LayoutCase {
    const char* name;
    TMsgDlgType type;
    const char* caption;
    TMsgBut buttons;
    int labelWidth, labelHeight;
    // expected
    const char* shownCaption;
    bool image;
    int labelLeft, width, height;
    std::vector<int> lefts;
    int top;
};

class MsgBoxLayoutTest : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(MsgBoxLayoutTest, Geometry) {
    const auto& c = GetParam();
    const TMsgBoxLayout l = LayoutMsgBox(c.type, c.caption, c.buttons, c.labelWidth, c.labelHeight);
    EXPECT_EQ(l.caption, c.shownCaption);
    EXPECT_EQ(l.imageVisible, c.image);
    EXPECT_EQ(l.labelLeft, c.labelLeft);
    EXPECT_EQ(l.labelTop, 8);
    EXPECT_EQ(l.outerWidth, c.width);
    EXPECT_EQ(l.outerHeight, c.height);
    std::vector<int> lefts;
    for (const auto& b : l.buttons) {
        lefts.push_back(b.left);
        EXPECT_EQ(b.top, c.top);
        EXPECT_EQ(b.width, 75);
        EXPECT_EQ(b.height, 25);
    }
    EXPECT_EQ(lefts, c.lefts);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Cases, MsgBoxLayoutTest,
    ::testing::Values(
        //         name                    type            caption    buttons                          label w, h  shown caption   image left width height lefts                          top
        LayoutCase{"ShortTextWithIcon",    mtError,        "",        {mbClose},                       120, 13,    "Error",        true, 68, 280, 120, {103},                         65},
        LayoutCase{"CustomHasNoPicture",   mtCustom,       "",        {mbOK},                          50, 13,     "Message",      false, 20, 280, 120, {103},                        65},
        LayoutCase{"CaptionWins",          mtWarning,      "Achtung", {mbOK},                          50, 13,     "Achtung",      true, 68, 280, 120, {103},                         65},
        LayoutCase{"TallText",             mtInformation,  "",        {mbYes, mbNo},                   100, 60,    "Information",  true, 68, 280, 135, {60, 145},                     80},
        LayoutCase{"LongLine",             mtConfirmation, "",        {mbOK},                          300, 13,    "Confirmation", true, 68, 388, 120, {157},                         65},
        LayoutCase{"FourButtonsAreCutOff", mtWarning,      "",        {mbYes, mbNo, mbOK, mbClose},    50, 13,     "Warning",      true, 68, 280, 120, {-25, 60, 145, 230},           65},
        LayoutCase{"AllSix",               mtWarning,      "",        {mbAbort, mbIgnore, mbClose, mbOK, mbNo, mbYes}, 50, 13, "Warning", true, 68, 280, 120, {-110, -25, 60, 145, 230, 315}, 65}),
    [](const auto& info) { return std::string(info.param.name); });
// clang-format on

TEST(MsgBoxLayoutTest, ButtonsComeInTheFixedOrderWithTheirResults) {
    const auto l =
        LayoutMsgBox(mtWarning, "", {mbAbort, mbYes, mbClose, mbIgnore, mbOK, mbNo}, 10, 10);
    std::vector<std::string> captions, names;
    std::vector<int> results;
    for (const auto& b : l.buttons) {
        captions.push_back(b.caption);
        names.push_back(b.name);
        results.push_back(b.result);
    }
    EXPECT_EQ(captions, (std::vector<std::string>{"Schlie\xC3\x9F"
                                                  "en",
                                                  "Ja", "Nein", "Ok", "Ignorieren", "Abbruch"}));
    EXPECT_EQ(names, (std::vector<std::string>{"But1", "But2", "But3", "But4", "But5", "But6"}));
    EXPECT_EQ(results, (std::vector<int>{2, 6, 7, 1, 5, 3}));
    EXPECT_EQ(TMsgBut({mbClose, mbYes}).Bits(), 0x09);
}

TEST(DebugLogTest, LineFormats) {
    std::vector<std::string> lines;
    TDebugLog log;
    log.append = [&](const std::string& l) { lines.push_back(l); };
    log.clear = [&] { lines.clear(); };
    log.S("text");
    log.D(-5);
    log.D(1234);
    log.H(-1);
    log.H(255);
    log.TH("ab", 10);
    log.L(u'-');
    EXPECT_EQ(lines, (std::vector<std::string>{"text", "-5", "1234", "FFFFFFFF", "000000FF",
                                               "ab: 0000000A", std::string(60, '-')}));
    log.C();
    EXPECT_TRUE(lines.empty());

    log.DUMP({}, -1);
    log.BUFF(nullptr, 0);
    EXPECT_EQ(lines, std::vector<std::string>{"Anzahl: 0"});

    lines.clear();
    std::vector<std::uint8_t> bytes(17, 0x41);
    log.DUMP(bytes, -1);
    log.BUFF(bytes.data(), 3);
    log.DUMP(bytes, 40);  // more than there is: only what there is
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "Anzahl: 17");
    EXPECT_EQ(lines[1].size(), 72u);
    EXPECT_EQ(lines[2], "0010:  41 .. .. .. .. .. .. .. .. .. .. .. .. .. .. ..  A");
    EXPECT_EQ(lines[3], "0000:  41 41 41 .. .. .. .. .. .. .. .. .. .. .. .. ..  AAA");
    EXPECT_EQ(lines[4], "Anzahl: 40");
}

struct NameCase {
    const char* exe;
    int hi, lo;
    const char* versioned;
};

class VersionedNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(VersionedNameTest, ReplacesTheExtension) {
    const auto& c = GetParam();
    EXPECT_EQ(
        VersionedFileName(c.exe, static_cast<std::uint8_t>(c.hi), static_cast<std::uint8_t>(c.lo)),
        c.versioned);
}

INSTANTIATE_TEST_SUITE_P(Names, VersionedNameTest,
                         ::testing::Values(NameCase{"C:/tools/tool.exe", 1, 3, "tool13.exe"},
                                           NameCase{"tool.exe", 2, 10, "tool210.exe"},
                                           NameCase{"/usr/bin/kordel-update", 1, 3,
                                                    "kordel-update13"},
                                           NameCase{"/opt/a.b.exe", 0, 0, "a.b00.exe"}));

TEST(DistCopyTest, OnlyTheExactCodeAloneAsksForTheCopy) {
    EXPECT_TRUE(DistCopyRequested({"5273946"}));
    for (const auto& args : std::vector<std::vector<std::string>>{
             {}, {"05273946"}, {" 5273946"}, {"5273946", "x"}, {"5273947"}}) {
        EXPECT_FALSE(DistCopyRequested(args));
    }
}

TEST(DistCopyTest, CopiesIntoDistReplacingAnOlderFile) {
    testing::TempDir dir;
    testing::WriteFile("kordel-update", "new build");
    EXPECT_FALSE(CopyToDist("kordel-update", "kordel-update13")) << "no dist folder: no copy";
    std::filesystem::create_directory("dist");
    testing::WriteFile("dist/kordel-update13", "old build");
    EXPECT_TRUE(CopyToDist("kordel-update", "kordel-update13"));
    EXPECT_EQ(testing::ReadFile("dist/kordel-update13"), "new build");
    std::filesystem::create_directory("dist/kordel-update14");
    EXPECT_TRUE(CopyToDist("kordel-update", "kordel-update14"));
    EXPECT_EQ(testing::ReadFile("dist/kordel-update14/kordel-update"), "new build");
}

TEST(DistCopyTest, NamesBeyondAsciiAreUtf8) {
    testing::TempDir dir;
    std::filesystem::create_directories(u8"dist/Pr\u00FCfplatz");
    testing::WriteFile(u8"Pr\u00FCfstand", "new build");
    // "Prüfstand" and "Prüfplatz" as UTF-8 bytes, as the program holds names.
    EXPECT_TRUE(CopyToDist("Pr\xC3\xBC" "fstand", "Pr\xC3\xBC" "fplatz"));
    EXPECT_EQ(testing::ReadFile(u8"dist/Pr\u00FCfplatz/Pr\u00FCfstand"), "new build");
}

// A position past the maximum shows a full bar; a maximum of 0 an empty one of 1.
TEST(ShownProgressTest, ClampsWhatTheUpdateReports) {
    struct Case {
        std::uint32_t maximum, position, shownMaximum, shownPosition;
    };
    for (const Case c : {Case{7936, 2560, 7936, 2560}, Case{7936, 8192, 7936, 7936},
                         Case{0, 0, 1, 0}, Case{0, 5, 1, 1}}) {
        const TShownProgress shown = ShownProgress(c.maximum, c.position);
        EXPECT_EQ(shown.maximum, c.shownMaximum) << c.maximum << "/" << c.position;
        EXPECT_EQ(shown.position, c.shownPosition) << c.maximum << "/" << c.position;
    }
}

// The bar shows the last maximum and position together, whichever came last.
TEST(ShownProgressTest, TheStateKeepsBothValues) {
    TProgressState progress;
    progress.SetMaximum(7936);
    const TShownProgress shown = progress.SetPosition(9000);
    EXPECT_EQ(shown.maximum, 7936u);
    EXPECT_EQ(shown.position, 7936u);
    EXPECT_EQ(progress.Position(), 9000u) << "the reported value is kept, only the shown one clamped";
    EXPECT_EQ(progress.SetMaximum(0).maximum, 1u);
}

// START disabled with the focus on it: the focus waits on the window and comes back
// when START is enabled, unless the user moved it meanwhile; without the focus, START
// takes nothing.
TEST(StartFocusTest, TheFocusWaitsOnTheWindowAndComesBack) {
    using F = TFocusAt;
    struct Case {
        F atDisable, atEnable;  // where the focus is as START is disabled, and enabled
        F expectedAfterDisable, expectedAfterEnable;
    };
    for (const Case c : {Case{F::Start, F::Window, F::Window, F::Start},
                         Case{F::Start, F::Nothing, F::Window, F::Start},
                         Case{F::Start, F::OtherControl, F::Window, F::OtherControl},
                         Case{F::OtherControl, F::OtherControl, F::OtherControl, F::OtherControl},
                         Case{F::OtherControl, F::Window, F::OtherControl, F::Window}}) {
        TStartFocus focus;
        EXPECT_EQ(focus.Disabling(c.atDisable), c.expectedAfterDisable);
        EXPECT_EQ(focus.OnEnabling(c.atEnable), c.expectedAfterEnable);
        focus.Enabled();
        EXPECT_EQ(focus.OnEnabling(F::Window), F::Window) << "the wait ends with the enabling";
    }
}

}  // namespace
}  // namespace kordel
