// The Win32 window of kordel-update.exe, measured on its real windows under wine: the
// main window's controls, the message dialog's geometry and keys, the debug log and
// the placement round trip through the settings file.
// The core's headers before <windows.h>, whose macros would change them.
#include "ComIo.h"
#include "FormStorage.h"
#include "IniFile.h"
#include "TMain.h"

#include <commctrl.h>
#include <shellapi.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "Controls.h"
#include "Globals.h"
#include "MessagePump.h"
#include "RecordingPort.h"
#include "TDebug.h"
#include "TMsgBox.h"
#include "WindowNames.h"

namespace kordel::win32 {
namespace {

RECT RectIn(HWND child, HWND parent) {
    RECT r;
    ::GetWindowRect(child, &r);
    ::MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::wstring TextOf(HWND window) {
    wchar_t buffer[512] = {};
    ::GetWindowTextW(window, buffer, 512);
    return buffer;
}

LOGFONTW FontOf(HWND window) {
    LOGFONTW font{};
    const auto handle = reinterpret_cast<HFONT>(::SendMessageW(window, WM_GETFONT, 0, 0));
    ::GetObjectW(handle, sizeof font, &font);
    return font;
}

struct Rect {
    int left, top, width, height;
};

::testing::AssertionResult HasRect(HWND child, HWND parent, Rect expected) {
    const RECT r = RectIn(child, parent);
    if (r.left == expected.left && r.top == expected.top && r.right - r.left == expected.width &&
        r.bottom - r.top == expected.height) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << "rect " << r.left << "," << r.top << " " << r.right - r.left << "x"
           << r.bottom - r.top << ", expected " << expected.left << "," << expected.top << " "
           << expected.width << "x" << expected.height;
}

// The program's objects, shown once for all tests, in a scratch current directory.
class WindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        objects = new TApplicationObjects();
        Main->Show();
        ProcessPendingMessages();
    }
    static void TearDownTestSuite() {
        delete objects;
        objects = nullptr;
    }
    static TApplicationObjects* objects;
};
TApplicationObjects* WindowTest::objects = nullptr;

TEST_F(WindowTest, MainWindowHasItsClientSizeFrameAndTitle) {
    RECT client;
    ::GetClientRect(Main->Handle(), &client);
    EXPECT_EQ(client.right, 355);
    EXPECT_EQ(client.bottom, 185);
    const auto style = ::GetWindowLongPtrW(Main->Handle(), GWL_STYLE);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_EQ(TextOf(Main->Handle()).rfind(L"Kordel Update v", 0), 0u) << "the image's title";
    wchar_t className[64];
    ::GetClassNameW(Main->Handle(), className, 64);
    EXPECT_STREQ(className, L"TMain");
}

TEST_F(WindowTest, ControlsSitWhereTheDesignPutsThem) {
    struct Case {
        int id;
        int parentId;  // 0: the main window
        Rect rect;
    };
    const Case cases[] = {
        {IdJvgGroupBox2, 0, {8, 4, 339, 69}},
        {IdLabBiosVersion, IdJvgGroupBox2, {9, 21, 232, 16}},
        {IdLabBiosInfo, IdJvgGroupBox2, {9, 43, 233, 22}},
        {IdJvgGroupBox1, 0, {8, 79, 339, 50}},
        {IdCbPort, IdJvgGroupBox1, {88, 23, 81, 21}},
        {IdLed1, IdJvgGroupBox1, {175, 25, 17, 17}},
        {IdButStart, 0, {8, 135, 185, 25}},
        {IdButExit, 0, {272, 135, 75, 25}},
        {IdSBar, 0, {0, 166, 355, 19}},
        {IdPBar, IdSBar, {252, 2, 102, 17}},
    };
    const HWND main = Main->Handle();
    for (const auto& c : cases) {
        const HWND parent = c.parentId == 0 ? main : ::GetDlgItem(main, c.parentId);
        const HWND control = ::GetDlgItem(parent, c.id);
        ASSERT_NE(control, nullptr) << "control " << c.id;
        EXPECT_TRUE(HasRect(control, parent, c.rect)) << "control " << c.id;
    }
    const RECT label = RectIn(Main->Label1, Main->JvgGroupBox1);
    EXPECT_EQ(label.left, 25);
    EXPECT_EQ(label.top, 27);
}

TEST_F(WindowTest, ControlsCarryTheirFontsAndKinds) {
    struct Case {
        HWND control;
        const wchar_t* face;
        int height;
        bool bold;
    };
    const Case cases[] = {
        {Main->Handle(), L"MS Sans Serif", -11, false},
        {Main->JvgGroupBox2, L"Tahoma", -11, true},
        {Main->LabBiosVersion, L"Tahoma", -12, true},
        {Main->LabBiosInfo, L"Tahoma", -12, true},
        {Main->Label1, L"Tahoma", -11, true},
        {Main->cbPort, L"Tahoma", -11, true},
        {Main->ButStart, L"Verdana", -11, true},
        {Main->ButExit, L"Verdana", -11, true},
        {Main->sBar, L"Tahoma", -11, true},
    };
    for (const auto& c : cases) {
        const LOGFONTW font = FontOf(c.control);
        EXPECT_STREQ(font.lfFaceName, c.face) << TextOf(c.control);
        EXPECT_EQ(font.lfHeight, c.height) << TextOf(c.control);
        EXPECT_EQ(font.lfWeight >= FW_BOLD, c.bold) << TextOf(c.control);
    }
    EXPECT_EQ(::GetWindowLongPtrW(Main->cbPort, GWL_STYLE) & 3, CBS_DROPDOWNLIST);
    EXPECT_TRUE(::GetWindowLongPtrW(Main->pBar, GWL_STYLE) & PBS_SMOOTH);
    EXPECT_FALSE(::GetWindowLongPtrW(Main->sBar, GWL_STYLE) & SBARS_SIZEGRIP);
    for (HWND button : {Main->ButStart, Main->ButExit}) {
        EXPECT_EQ(::GetWindowLongPtrW(button, GWL_STYLE) & BS_TYPEMASK, BS_PUSHBUTTON)
            << "neither button is the default one";
    }
}

TEST_F(WindowTest, StatusBarHasTwoPanelsAndTheIdleText) {
    int edges[4] = {};
    ASSERT_EQ(::SendMessageW(Main->sBar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 2);
    EXPECT_EQ(edges[0], 250);
    EXPECT_EQ(edges[1], 300);
    wchar_t text[128] = {};
    ::SendMessageW(Main->sBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, L"Select COM-Port and press START");
}

TEST_F(WindowTest, HintsAreToolTipsOfTheirControls) {
    EXPECT_EQ(::SendMessageW(Main->Hints, TTM_GETTOOLCOUNT, 0, 0), 3);
    const std::pair<HWND, const wchar_t*> hints[] = {
        {Main->cbPort, L"Select COM-Port for Halvern"},
        {Main->ButStart, L"Start update for Halvern and Halvern expert"},
        {Main->ButExit, L"Exit"},
    };
    for (const auto& [control, text] : hints) {
        wchar_t buffer[128] = {};
        TOOLINFOW tool{};
        tool.cbSize = TTTOOLINFOW_V2_SIZE;
        tool.hwnd = ::GetParent(control);
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = buffer;
        ::SendMessageW(Main->Hints, TTM_GETTEXTW, 128, reinterpret_cast<LPARAM>(&tool));
        EXPECT_STREQ(buffer, text);
    }
}

TEST_F(WindowTest, LedFollowsThePortNotifications) {
    EXPECT_EQ(::SendMessageW(Main->LED1, LedGetState, 0, 0), 0) << "red at start";
    ComIo->OnPortState(true);
    EXPECT_EQ(::SendMessageW(Main->LED1, LedGetState, 0, 0), 1);
    ComIo->OnPortState(false);
    EXPECT_EQ(::SendMessageW(Main->LED1, LedGetState, 0, 0), 0);
}

// ---------------------------------------------------------------- a port that went away

// Closes each message dialog as it shows, keeping its text.
std::vector<std::wstring> dialogTexts;
void CALLBACK CloseEveryDialog(HWND, UINT, UINT_PTR, DWORD) {
    if (!::IsWindowVisible(MsgBox->Handle())) return;
    dialogTexts.push_back(TextOf(MsgBox->InfoLabel));
    ::PostMessageW(MsgBox->Handle(), WM_CLOSE, 0, 0);
}

std::wstring StatusText() {
    wchar_t status[128] = {};
    ::SendMessageW(Main->sBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    return status;
}

// Before DialogReturnsAtOnceWhenTheProgramIsEnding, which ends the program for good: the
// dialogs must show here.
// An adapter unplugged in the middle of an update: its reads fail, and so does the purge
// that starts the close (ERROR_DEVICE_NOT_CONNECTED). The window shows both failures once,
// the port is closed all the same (LED red), and the next START opens the port anew and
// updates the module.
TEST_F(WindowTest, PortThatWentAwayIsClosedAndTheNextUpdateSucceeds) {
    auto original = std::move(ComIo->cPort);
    std::map<std::uint32_t, std::vector<std::uint8_t>> flash;
    testing::RecordingPort* port =
        &testing::GiveVanishingModule(*ComIo, flash, ERROR_DEVICE_NOT_CONNECTED);
    dialogTexts.clear();
    const UINT_PTR closer = ::SetTimer(nullptr, 0, 50, CloseEveryDialog);

    ::SendMessageW(Main->ButStart, BM_CLICK, 0, 0);
    const std::vector<std::wstring> expected = {L"ReadFile function failed (Error: 1167)",
                                                L"PurgeComm function failed (Error: 1167)"};
    EXPECT_EQ(dialogTexts, expected);
    EXPECT_EQ(::SendMessageW(Main->LED1, LedGetState, 0, 0), 0) << "red: the port is closed";
    EXPECT_FALSE(port->Connected());
    EXPECT_EQ(port->CallsOf("Close").size(), 1u);
    EXPECT_TRUE(::IsWindowEnabled(Main->ButStart));

    port->failWith.clear();
    flash.clear();
    ::SendMessageW(Main->ButStart, BM_CLICK, 0, 0);
    ::KillTimer(nullptr, closer);
    EXPECT_EQ(dialogTexts.size(), 2u) << "no failure this time";
    EXPECT_EQ(StatusText(), L"Update OK");
    EXPECT_EQ(::SendMessageW(Main->LED1, LedGetState, 0, 0), 0);
    EXPECT_FALSE(flash.empty());
    ComIo->cPort = std::move(original);
}

TEST_F(WindowTest, WorkPostedFromAnotherThreadRunsOnTheWindowThread) {
    DWORD ranOn = 0;
    std::thread watcher([&] { Main->PostWork([&] { ranOn = ::GetCurrentThreadId(); }); });
    watcher.join();
    EXPECT_EQ(ranOn, 0u) << "not before the window's messages are processed";
    // A message of the same number from elsewhere carries nothing that is run.
    ::PostMessageW(Main->Handle(), RunPostedWork, 0, 0x1234);
    ProcessPendingMessages();
    EXPECT_EQ(ranOn, ::GetCurrentThreadId());
}

std::vector<std::wstring> PortEntries() {
    std::vector<std::wstring> entries;
    const auto count = ::SendMessageW(Main->cbPort, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t text[64] = {};
        ::SendMessageW(Main->cbPort, CB_GETLBTEXT, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

// Opening the list refreshes it first, keeping the selected port when it is still there.
TEST_F(WindowTest, OpeningThePortListRefreshesIt) {
    ::_putenv_s("KORDEL_EXTRA_PORTS", "COM77:COM78");
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, TRUE, 0);
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, FALSE, 0);
    auto entries = PortEntries();
    EXPECT_NE(std::find(entries.begin(), entries.end(), L"COM77"), entries.end());
    const auto at78 = std::find(entries.begin(), entries.end(), L"COM78");
    ASSERT_NE(at78, entries.end());
    ::SendMessageW(Main->cbPort, CB_SETCURSEL, static_cast<WPARAM>(at78 - entries.begin()), 0);

    ::_putenv_s("KORDEL_EXTRA_PORTS", "COM78");
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, TRUE, 0);
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, FALSE, 0);
    entries = PortEntries();
    EXPECT_EQ(std::find(entries.begin(), entries.end(), L"COM77"), entries.end()) << "gone";
    EXPECT_EQ(TextOf(Main->cbPort), L"COM78") << "the selection is kept";
    ::_putenv_s("KORDEL_EXTRA_PORTS", "");
}

void OpenAndCloseThePortList() {
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, TRUE, 0);
    ::SendMessageW(Main->cbPort, CB_SHOWDROPDOWN, FALSE, 0);
}

// The user picks the entry: the box tells the window as its own selection does.
void PickPort(const std::wstring& name) {
    const auto entries = PortEntries();
    const auto at = std::find(entries.begin(), entries.end(), name);
    ASSERT_NE(at, entries.end()) << "not listed";
    ::SendMessageW(Main->cbPort, CB_SETCURSEL, static_cast<WPARAM>(at - entries.begin()), 0);
    ::SendMessageW(Main->Handle(), WM_COMMAND, MAKEWPARAM(IdCbPort, CBN_SELCHANGE),
                   reinterpret_cast<LPARAM>(Main->cbPort));
}

std::wstring PortHintText() {
    wchar_t buffer[512] = {};
    TOOLINFOW tool{};
    tool.cbSize = TTTOOLINFOW_V2_SIZE;
    tool.hwnd = ::GetParent(Main->cbPort);
    tool.uId = reinterpret_cast<UINT_PTR>(Main->cbPort);
    tool.lpszText = buffer;
    ::SendMessageW(Main->Hints, TTM_GETTEXTW, 512, reinterpret_cast<LPARAM>(&tool));
    return buffer;
}

// Connect opens "\\.\" + the selected name, whatever the file system holds: on Windows
// "/dev/COM77" is \dev\COM77 on the current drive, and a folder there does not make the
// name a path. (Wine reads a path that starts with '/' otherwise: such a folder is
// never found there.)
TEST_F(WindowTest, ConnectOpensTheSelectedNameInTheDeviceNamespace) {
    std::error_code ec;
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(L"C:\\", ec);  // where the test may make the folder
    ASSERT_FALSE(ec) << "no drive C:";
    const std::filesystem::path decoy = L"\\dev\\COM77";
    const bool madeDev = !std::filesystem::exists(L"\\dev", ec);
    std::filesystem::create_directories(decoy, ec);
    ASSERT_TRUE(std::filesystem::exists(decoy, ec));
    ::_putenv_s("KORDEL_EXTRA_PORTS", "COM77");
    TPortListSource source;
    const auto listed = ListPortEntries(source);
    ASSERT_TRUE(listed);
    const auto entry = std::find_if(listed->begin(), listed->end(),
                                    [](const TPortEntry& e) { return e.Name == "COM77"; });
    ASSERT_NE(entry, listed->end());
    EXPECT_EQ(entry->Path, "\\\\.\\COM77");
    OpenAndCloseThePortList();
    PickPort(L"COM77");
    EXPECT_EQ(ComIo->PortNameSource(), "COM77") << "the port layer puts \\\\.\\ in front";
    // Nothing answers there: the device namespace's "file not found".
    try {
        ComIo->Connect(4407315);
        ADD_FAILURE() << "COM77 opened";
    } catch (const EComPort& e) {
        EXPECT_STREQ(e.what(), "Unable to open com port (Error: 2)");
    }
    std::filesystem::remove(decoy, ec);
    if (madeDev) std::filesystem::remove(L"\\dev", ec);
    std::filesystem::current_path(previous, ec);
    ::_putenv_s("KORDEL_EXTRA_PORTS", "");
    OpenAndCloseThePortList();
}

TEST_F(WindowTest, CutPortNameShowsWholeInTheHint) {
    const std::string longName = "COM" + std::string(30, '7');
    ::_putenv_s("KORDEL_EXTRA_PORTS", (longName + ":COM78").c_str());
    OpenAndCloseThePortList();
    PickPort(std::wstring(longName.begin(), longName.end()));
    EXPECT_EQ(PortHintText(),
              L"Select COM-Port for Halvern\n" + std::wstring(longName.begin(), longName.end()));
    PickPort(L"COM78");
    EXPECT_EQ(PortHintText(), L"Select COM-Port for Halvern");
    ::_putenv_s("KORDEL_EXTRA_PORTS", "");
    OpenAndCloseThePortList();
}

TEST_F(WindowTest, TabWalksStartExitAndThePortList) {
    ::SetForegroundWindow(Main->Handle());
    ::SetFocus(Main->ButStart);
    ProcessPendingMessages();
    ASSERT_EQ(::GetFocus(), Main->ButStart);
    for (HWND next : {Main->ButExit, Main->cbPort, Main->ButStart}) {
        ::PostMessageW(::GetFocus(), WM_KEYDOWN, VK_TAB, 0x000F0001);
        ::PostMessageW(::GetFocus(), WM_KEYUP, VK_TAB, static_cast<LPARAM>(0xC00F0001));
        ProcessPendingMessages();
        EXPECT_EQ(::GetFocus(), next);
    }
}

// ---------------------------------------------------------------- message dialog

// What a timer firing inside the dialog's modal loop saw, and how it closed the dialog.
struct DialogSeen {
    RECT outer{};
    RECT label{};
    bool imageVisible = false;
    std::wstring caption;
    std::vector<std::wstring> buttonTexts;
    std::vector<RECT> buttonRects;
    bool but1Focused = false;
    std::vector<COLORREF> picture;  // the pixels at PictureSamples
};

// The surround (corners), the inside of the bubble or disc, and the centre.
constexpr POINT PictureSamples[] = {{0, 0}, {0, 31}, {24, 8}, {16, 16}};

// Draws the dialog's picture as its window would, into a bitmap of our own.
std::vector<COLORREF> DrawnPicture(HWND box, HWND img) {
    const HDC screen = ::GetDC(nullptr);
    const HDC dc = ::CreateCompatibleDC(screen);
    const HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 32, 32);
    const HGDIOBJ old = ::SelectObject(dc, bitmap);
    DRAWITEMSTRUCT item{};
    item.CtlType = ODT_STATIC;
    item.CtlID = IdMsgImg;
    item.hwndItem = img;
    item.hDC = dc;
    item.rcItem = {0, 0, 32, 32};
    ::SendMessageW(box, WM_DRAWITEM, IdMsgImg, reinterpret_cast<LPARAM>(&item));
    std::vector<COLORREF> pixels;
    for (const POINT p : PictureSamples) pixels.push_back(::GetPixel(dc, p.x, p.y));
    ::SelectObject(dc, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(dc);
    ::ReleaseDC(nullptr, screen);
    return pixels;
}

enum class CloseBy { Click, Enter, Space, CloseCommand };

struct DialogAction {
    CloseBy how = CloseBy::Click;
    int button = 1;  // But<n>
};

DialogSeen seen;
DialogAction action;
UINT_PTR watchdog = 0;

// A dialog that the action did not close is closed by its last button after a while,
// whose result no case expects of the action: the test fails instead of hanging.
void CALLBACK CloseForgottenDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    watchdog = 0;
    const HWND box = MsgBox->Handle();
    int last = 0;
    while (::GetDlgItem(box, IdMsgButtonBase + last + 1)) ++last;
    if (last > 0) ::PostMessageW(::GetDlgItem(box, IdMsgButtonBase + last), BM_CLICK, 0, 0);
}

void CALLBACK InspectDialog(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    const HWND box = MsgBox->Handle();
    seen = {};
    ::GetWindowRect(box, &seen.outer);
    seen.label = RectIn(MsgBox->InfoLabel, box);
    seen.imageVisible = ::IsWindowVisible(MsgBox->Img) != FALSE;
    seen.caption = TextOf(box);
    for (int n = 1; const HWND b = ::GetDlgItem(box, IdMsgButtonBase + n); ++n) {
        seen.buttonTexts.push_back(TextOf(b));
        seen.buttonRects.push_back(RectIn(b, box));
    }
    seen.but1Focused = ::GetFocus() == ::GetDlgItem(box, IdMsgButtonBase + 1);
    seen.picture = DrawnPicture(box, MsgBox->Img);
    const HWND target = ::GetDlgItem(box, IdMsgButtonBase + action.button);
    switch (action.how) {
        case CloseBy::Click:
            ::PostMessageW(target, BM_CLICK, 0, 0);
            break;
        case CloseBy::Enter:
            ::SetFocus(target);
            ::PostMessageW(target, WM_KEYDOWN, VK_RETURN, 0x001C0001);
            ::PostMessageW(target, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC01C0001));
            break;
        case CloseBy::Space:
            ::SetFocus(target);
            ::PostMessageW(target, WM_KEYDOWN, VK_SPACE, 0x00390001);
            ::PostMessageW(target, WM_KEYUP, VK_SPACE, static_cast<LPARAM>(0xC0390001));
            break;
        case CloseBy::CloseCommand:
            ::PostMessageW(box, WM_SYSCOMMAND, SC_CLOSE, 0);
            break;
    }
    watchdog = ::SetTimer(nullptr, 0, 3000, CloseForgottenDialog);
}

int RunDialog(const std::string& text, TMsgDlgType type, const std::string& caption,
              TMsgBut buttons, DialogAction how = {}) {
    action = how;
    const UINT_PTR inspect = ::SetTimer(nullptr, 0, 30, InspectDialog);
    const int result = MsgBox->Execute(text, type, caption, buttons, false);
    ::KillTimer(nullptr, inspect);
    if (watchdog) ::KillTimer(nullptr, watchdog);
    watchdog = 0;
    return result;
}

TEST_F(WindowTest, DialogGeometry) {
    struct Case {
        const char* what;
        std::string text;
        TMsgDlgType type;
        std::string caption;
        TMsgBut buttons;
        int width, height;  // outer; 0: from the label
        int labelLeft;
        bool image;
        const wchar_t* expectedCaption;
        std::vector<std::wstring> order;
        int firstLeft;
    };
    const std::string lines = "one\r\ntwo\r\nthree\r\nfour\r\nfive\r\nsix";
    const std::string longLine(90, 'W');
    const Case cases[] = {
        {"short text",
         "Kordel not found!",
         mtError,
         "Error",
         {mbClose},
         280,
         120,
         68,
         true,
         L"Error",
         {L"Schlie\u00DFen"},
         103},
        {"custom", "Hello", mtCustom, "", {mbOK}, 280, 120, 20, false, L"Message", {L"Ok"}, 103},
        {"caption wins",
         "Hello",
         mtWarning,
         "Mine",
         {mbOK},
         280,
         120,
         68,
         true,
         L"Mine",
         {L"Ok"},
         103},
        {"lines grow height",
         lines,
         mtInformation,
         "",
         {mbOK},
         280,
         0,
         68,
         true,
         L"Information",
         {L"Ok"},
         103},
        {"long line grows width",
         longLine,
         mtConfirmation,
         "",
         {mbYes, mbNo},
         0,
         120,
         68,
         true,
         L"Confirmation",
         {L"Ja", L"Nein"},
         0},
        {"four buttons cut off",
         "x",
         mtWarning,
         "",
         {mbAbort, mbOK, mbNo, mbYes},
         280,
         120,
         68,
         true,
         L"Warning",
         {L"Ja", L"Nein", L"Ok", L"Abbruch"},
         -25},
        {"all six in fixed order",
         "x",
         mtWarning,
         "",
         {mbAbort, mbIgnore, mbOK, mbNo, mbYes, mbClose},
         280,
         120,
         68,
         true,
         L"Warning",
         {L"Schlie\u00DFen", L"Ja", L"Nein", L"Ok", L"Ignorieren", L"Abbruch"},
         -110},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunDialog(c.text, c.type, c.caption, c.buttons);
        const int labelWidth = seen.label.right - seen.label.left;
        const int labelHeight = seen.label.bottom - seen.label.top;
        const int width = c.width ? c.width : c.labelLeft + labelWidth + 20;
        const int height = c.height ? c.height : labelHeight + 75;
        if (!c.width) {
            EXPECT_GT(width, 280);
        }
        if (!c.height) {
            EXPECT_GT(labelHeight, 45);
        }
        EXPECT_EQ(seen.outer.right - seen.outer.left, width);
        EXPECT_EQ(seen.outer.bottom - seen.outer.top, height);
        EXPECT_EQ(seen.label.left, c.labelLeft);
        EXPECT_EQ(seen.label.top, 8);
        EXPECT_EQ(seen.imageVisible, c.image);
        EXPECT_EQ(seen.caption, c.expectedCaption);
        EXPECT_EQ(seen.buttonTexts, c.order);
        const int count = static_cast<int>(c.order.size());
        const int firstLeft = c.firstLeft ? c.firstLeft : width / 2 - (85 * count - 10) / 2;
        for (int i = 0; i < static_cast<int>(seen.buttonRects.size()); ++i) {
            const RECT& r = seen.buttonRects[static_cast<std::size_t>(i)];
            EXPECT_EQ(r.left, firstLeft + 85 * i) << "button " << i + 1;
            EXPECT_EQ(r.top, height - 55) << "button " << i + 1;
            EXPECT_EQ(r.right - r.left, 75);
            EXPECT_EQ(r.bottom - r.top, 25);
        }
        EXPECT_TRUE(seen.but1Focused);
    }
}

// The four icons over the dialog's face: the surround shows the face colour, the inside
// of the bubble (or the error's disc) keeps its own colour.
TEST_F(WindowTest, DialogPictureShowsTheFaceAroundTheIcon) {
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    const COLORREF white = RGB(255, 255, 255);
    const auto blue = [](COLORREF c) { return GetBValue(c) > 150 && GetRValue(c) < 60; };
    struct Case {
        TMsgDlgType type;
        COLORREF inside;  // at 24,8
        bool blueCentre;  // the sign in the bubble; the error's cross is white
    };
    const Case cases[] = {
        {mtWarning, white, true},
        {mtError, RGB(210, 20, 20), false},
        {mtInformation, white, true},
        {mtConfirmation, white, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.type));
        RunDialog("x", c.type, "", {mbOK});
        ASSERT_EQ(seen.picture.size(), 4u);
        EXPECT_EQ(seen.picture[0], face);
        EXPECT_EQ(seen.picture[1], face);
        EXPECT_EQ(seen.picture[2], c.inside);
        if (c.blueCentre) {
            EXPECT_TRUE(blue(seen.picture[3])) << std::hex << seen.picture[3];
        } else {
            EXPECT_EQ(seen.picture[3], white);
        }
    }
}

// "&" marks the next character as the accelerator and is not shown; "&&" shows one.
TEST_F(WindowTest, DialogLabelTakesTheSizeOfTheTextAsShown) {
    const auto labelWidth = [](const std::string& text) {
        RunDialog(text, mtInformation, "", {mbOK});
        return seen.label.right - seen.label.left;
    };
    EXPECT_EQ(labelWidth("Save &as"), labelWidth("Save as"));
    EXPECT_GT(labelWidth("x&&y"), labelWidth("xy")) << "shows x&y";
}

TEST_F(WindowTest, DialogIsCentredOverTheMainWindow) {
    RunDialog("Kordel not found!", mtError, "Error", {mbClose});
    RECT main;
    ::GetWindowRect(Main->Handle(), &main);
    EXPECT_EQ(seen.outer.left, (main.left + main.right) / 2 - 140);
    EXPECT_EQ(seen.outer.top, (main.top + main.bottom) / 2 - 60);
    EXPECT_FALSE(::IsWindowVisible(MsgBox->Handle())) << "hidden after the call";
    EXPECT_EQ(::GetDlgItem(MsgBox->Handle(), IdMsgButtonBase + 1), nullptr) << "buttons freed";
}

TEST_F(WindowTest, DialogResults) {
    const TMsgBut all{mbYes, mbNo, mbOK, mbClose, mbIgnore, mbAbort};
    struct Case {
        const char* what;
        DialogAction action;
        int result;
    };
    const Case cases[] = {
        {"click Schliessen", {CloseBy::Click, 1}, 2},
        {"click Ja", {CloseBy::Click, 2}, 6},
        {"click Nein", {CloseBy::Click, 3}, 7},
        {"click Ok", {CloseBy::Click, 4}, 1},
        {"click Ignorieren", {CloseBy::Click, 5}, 5},
        {"click Abbruch", {CloseBy::Click, 6}, 3},
        {"Enter on Nein", {CloseBy::Enter, 3}, 7},
        {"Space on Ok", {CloseBy::Space, 4}, 1},
        {"Enter on But1", {CloseBy::Enter, 1}, 2},
        {"close command", {CloseBy::CloseCommand, 1}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RunDialog("x", mtWarning, "", all, c.action), c.result);
    }
    EXPECT_TRUE(::IsWindowEnabled(Main->Handle())) << "the owner is enabled again";
}

TEST_F(WindowTest, DialogFrameIsAToolWindowWithoutSystemMenu) {
    const auto style = ::GetWindowLongPtrW(MsgBox->Handle(), GWL_STYLE);
    const auto exStyle = ::GetWindowLongPtrW(MsgBox->Handle(), GWL_EXSTYLE);
    EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
    EXPECT_EQ(style & WS_CAPTION, WS_CAPTION);
    EXPECT_FALSE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_THICKFRAME);
    const LOGFONTW label = FontOf(MsgBox->InfoLabel);
    EXPECT_STREQ(label.lfFaceName, L"Verdana");
    EXPECT_EQ(label.lfHeight, -11);
}

// The last test that shows the dialog: the program stays "ending" from here on.
TEST_F(WindowTest, DialogReturnsAtOnceWhenTheProgramIsEnding) {
    Main->RequestEnd();
    seen = {};
    const DWORD start = ::GetTickCount();
    EXPECT_EQ(RunDialog("x", mtError, "Error", {mbYes, mbNo}), 2);
    EXPECT_LT(::GetTickCount() - start, 1000u);
    EXPECT_TRUE(seen.caption.empty()) << "the dialog was not shown";
    ProcessPendingMessages();
}

// ---------------------------------------------------------------- debug log

TEST_F(WindowTest, DebugLogWindow) {
    RECT outer;
    ::GetWindowRect(Debug->Handle(), &outer);
    EXPECT_EQ(outer.right - outer.left, 594);
    EXPECT_EQ(outer.bottom - outer.top, 554);
    EXPECT_FALSE(::IsWindowVisible(Debug->Handle())) << "hidden from the start";
    const auto style = ::GetWindowLongPtrW(Debug->Memo, GWL_STYLE);
    EXPECT_TRUE(style & ES_MULTILINE);
    EXPECT_TRUE(style & ES_READONLY);
    EXPECT_TRUE(style & WS_VSCROLL);
    EXPECT_FALSE(style & (WS_HSCROLL | ES_AUTOHSCROLL)) << "long lines wrap";
    const LOGFONTW font = FontOf(Debug->Memo);
    EXPECT_STREQ(font.lfFaceName, L"Courier New");
    EXPECT_EQ(font.lfHeight, -11);

    Debug->S("first");
    Debug->H(255);
    EXPECT_EQ(TextOf(Debug->Memo), L"first\r\n000000FF");
    ::SendMessageW(Debug->Memo, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
    EXPECT_EQ(TextOf(Debug->Memo), L"");

    Debug->Show();
    ::SendMessageW(Debug->Handle(), WM_CLOSE, 0, 0);
    EXPECT_TRUE(::IsWindow(Debug->Handle())) << "closing only hides";
    EXPECT_FALSE(::IsWindowVisible(Debug->Handle()));
}

// ---------------------------------------------------------------- placement

std::string ReadFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST_F(WindowTest, PlacementRoundTripsThroughTheSettingsFile) {
    const std::string file = "Placement_RoundTrip.ini";
    std::filesystem::remove(file);
    const HWND main = Main->Handle();
    ::SetWindowPos(main, nullptr, 123, 77, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    WINDOWPLACEMENT before{};
    before.length = sizeof before;
    ::GetWindowPlacement(main, &before);
    {
        TIniFile ini;
        ini.SetFileName(file);
        TFormStorage keeper(ini, *Main, "Main");
        keeper.RestoreFormPlacement();  // nothing saved yet: the position stays
        keeper.SaveFormPlacement();
    }
    const RECT& n = before.rcNormalPosition;
    const std::string norm = std::to_string(n.left) + "," + std::to_string(n.top) + "," +
                             std::to_string(n.right) + "," + std::to_string(n.bottom);
    const std::string text = ReadFile(file);
    EXPECT_NE(text.find("\r\nNormPos=" + norm + "\r\n"), std::string::npos) << text;
    const std::string desktop = "(" + std::to_string(::GetSystemMetrics(SM_CXVIRTUALSCREEN)) + "x" +
                                std::to_string(::GetSystemMetrics(SM_CYVIRTUALSCREEN)) + ")";
    EXPECT_NE(text.find("\r\nNormPos" + desktop + "=" + norm + "\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nPixelsPerInch=96\r\n"), std::string::npos) << text;

    ::SetWindowPos(main, nullptr, 300, 200, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    {
        TIniFile ini;
        ini.SetFileName(file);
        TFormStorage keeper(ini, *Main, "Main");
        keeper.RestoreFormPlacement();
    }
    Main->Show();
    WINDOWPLACEMENT after{};
    after.length = sizeof after;
    ::GetWindowPlacement(main, &after);
    EXPECT_EQ(after.rcNormalPosition.left, n.left);
    EXPECT_EQ(after.rcNormalPosition.top, n.top);
    EXPECT_EQ(after.rcNormalPosition.right, n.right);
    EXPECT_EQ(after.rcNormalPosition.bottom, n.bottom);
    EXPECT_TRUE(::IsWindowVisible(main));
}

// ---------------------------------------------------------------- distribution copy

// Run by its own test entry with the one argument 5273946 on the command line (the
// test filter comes through the environment, so that the argument stays alone).
class DistCopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        int count = 0;
        LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &count);
        const bool requested = count == 2 && std::wstring(argv[1]) == L"5273946";
        ::LocalFree(argv);
        if (!requested) GTEST_SKIP() << "needs the command line: window_tests.exe 5273946";
        std::filesystem::remove_all("dist");
    }

    // Starts the program's objects and shows the main window, which runs the step.
    struct Run {
        bool logShown;
        std::wstring log;
        std::string versionedName;
    };
    static Run StartProgram() {
        TApplicationObjects objects;
        Main->Show();
        ProcessPendingMessages();
        const auto& info = Main->Controller->Image.BufBiosInfo;
        Run run{
            ::IsWindowVisible(Debug->Handle()) != FALSE, TextOf(Debug->Memo),
            "window_tests" + std::to_string(info.VersHi) + std::to_string(info.VersLo) + ".exe"};
        return run;
    }

    static HWND CreateDevEnvironmentWindow() {
        WNDCLASSW wc{};
        wc.lpfnWndProc = ::DefWindowProcW;
        wc.hInstance = ::GetModuleHandleW(nullptr);
        wc.lpszClassName = L"TAPPBUILDER";
        ::RegisterClassW(&wc);
        return ::CreateWindowExW(0, L"TAPPBUILDER", L"", WS_OVERLAPPED, 0, 0, 10, 10, nullptr,
                                 nullptr, ::GetModuleHandleW(nullptr), nullptr);
    }

    static std::uintmax_t ExeSize() {
        wchar_t path[MAX_PATH];
        ::GetModuleFileNameW(nullptr, path, MAX_PATH);
        return std::filesystem::file_size(path);
    }
};

TEST_F(DistCopyTest, CopiesTheExecutableUnderItsVersionedName) {
    std::filesystem::create_directory("dist");
    const Run without = StartProgram();
    EXPECT_FALSE(without.logShown) << "no environment window: nothing happens";
    EXPECT_TRUE(std::filesystem::is_empty("dist"));

    TWindowHandle environment(CreateDevEnvironmentWindow());
    ASSERT_NE(environment.get(), nullptr);
    std::filesystem::remove_all("dist");
    const Run noFolder = StartProgram();
    EXPECT_TRUE(noFolder.logShown);
    EXPECT_EQ(noFolder.log,
              std::wstring(noFolder.versionedName.begin(), noFolder.versionedName.end()));
    EXPECT_FALSE(std::filesystem::exists("dist")) << "no folder: no copy, no message";

    std::filesystem::create_directory("dist");
    const std::string target = "dist/" + noFolder.versionedName;
    std::ofstream("dist/" + noFolder.versionedName) << "older";
    StartProgram();
    EXPECT_EQ(std::filesystem::file_size(target), ExeSize()) << "the older file is replaced";

    std::filesystem::remove(target);
    std::filesystem::create_directory(target);
    StartProgram();
    EXPECT_EQ(std::filesystem::file_size(target + "/window_tests.exe"), ExeSize())
        << "into the directory under the executable's own name";
}

// Lets the X server's answers to earlier moves and state changes arrive: wine takes a
// late answer to a move for a change of the window by the user, which would undo a
// later maximise.
void SettleWindows() {
    for (int i = 0; i < 10; ++i) {
        ProcessPendingMessages();
        ::Sleep(20);
    }
    ProcessPendingMessages();
}

TEST_F(WindowTest, SavedStateAndPositionAreAppliedOrLeft) {
    struct Case {
        const char* what;
        const char* main;  // the [Main] section's entries
        bool iconic;
        bool zoomed;
        bool moved;  // to 40,30
    };
    const Case cases[] = {
        {"normal at a saved place", "ShowCmd=1\r\nNormPos=40,30,401,240\r\n", false, false, true},
        {"off every monitor", "ShowCmd=1\r\nNormPos=9000,9000,9361,9210\r\n", false, false, false},
        {"another density", "ShowCmd=1\r\nPixelsPerInch=120\r\nNormPos=40,30,401,240\r\n", false,
         false, false},
        {"minimised", "ShowCmd=2\r\nNormPos=40,30,401,240\r\n", true, false, true},
        {"no state, no place: maximised", "ShowCmd=0\r\n", false, true, false},
    };
    const HWND main = Main->Handle();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ::SetWindowPos(main, nullptr, 200, 150, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        SettleWindows();
        std::ofstream("State.ini", std::ios::binary) << "[Main]\r\n" << c.main;
        TIniFile ini;
        ini.SetFileName("State.ini");
        TFormStorage keeper(ini, *Main, "Main");
        keeper.RestoreFormPlacement();
        Main->Show();
        SettleWindows();
        EXPECT_EQ(::IsIconic(main) != FALSE, c.iconic);
        EXPECT_EQ(::IsZoomed(main) != FALSE, c.zoomed);
        WINDOWPLACEMENT wp{};
        wp.length = sizeof wp;
        ::GetWindowPlacement(main, &wp);
        const RECT work = [] {
            RECT r{};
            ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
            return r;
        }();
        const POINT expected = c.moved ? POINT{40, 30} : POINT{200 - work.left, 150 - work.top};
        EXPECT_EQ(wp.rcNormalPosition.left, expected.x);
        EXPECT_EQ(wp.rcNormalPosition.top, expected.y);
        Main->SetWindowState(TWindowState::Normal);
        ::ShowWindow(main, SW_RESTORE);
        SettleWindows();
    }
}

// ---------------------------------------------------------------- closing during an update

// Run by window-updates.sh against kordel-sim: KORDEL_TEST_PORT names the
// module's COM port, KORDEL_TEST_OUTCOME says how its update ends ("ok", or "error"
// for a module that stops answering part way). The window is closed at the first
// block after 150 ms: the settings are saved at once, the update runs on to its end,
// an error dialog after that point returns by itself, and then the window closes.
struct CloseSeen {
    bool updating = false;
    bool windowStayed = false;
    std::string settings;
};
CloseSeen closeSeen;
bool dialogShownAfterClose = false;

void CALLBACK CloseMainWindow(HWND, UINT, UINT_PTR timer, DWORD) {
    ::KillTimer(nullptr, timer);
    closeSeen.updating = Main->Controller->Updating();
    ::SendMessageW(Main->Handle(), WM_CLOSE, 0, 0);
    closeSeen.windowStayed = ::IsWindow(Main->Handle()) != FALSE;
    closeSeen.settings = ReadFile("Kordel_Update.ini");
}

// A dialog that stays up after the close is a failure; it is closed so that the test
// ends.
void CALLBACK CloseLingeringDialog(HWND, UINT, UINT_PTR, DWORD) {
    if (!::IsWindowVisible(MsgBox->Handle())) return;
    dialogShownAfterClose = true;
    ::PostMessageW(MsgBox->Handle(), WM_CLOSE, 0, 0);
}

TEST(CloseDuringUpdateTest, SavesAtOnceFinishesTheUpdateThenEnds) {
    const char* port = std::getenv("KORDEL_TEST_PORT");
    const char* outcome = std::getenv("KORDEL_TEST_OUTCOME");
    if (!port || !outcome) GTEST_SKIP() << "run by window-updates.sh";
    std::ofstream("Kordel_Update.ini", std::ios::binary) << "[CONFIG]\r\nComPort=" << port << "\r\n";
    TApplicationObjects objects;
    Main->Show();
    ProcessPendingMessages();
    ASSERT_EQ(TextOf(Main->cbPort), std::wstring(port, port + std::strlen(port)));

    const UINT_PTR closer = ::SetTimer(nullptr, 0, 150, CloseMainWindow);
    const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 3000, CloseLingeringDialog);
    ::SendMessageW(Main->ButStart, BM_CLICK, 0, 0);  // the whole update, to its end
    ::KillTimer(nullptr, closer);
    ::KillTimer(nullptr, watchdog);

    EXPECT_TRUE(closeSeen.updating) << "closed in the middle of the update";
    EXPECT_TRUE(closeSeen.windowStayed);
    EXPECT_NE(closeSeen.settings.find("\r\nComPort=" + std::string(port) + "\r\n"), std::string::npos)
        << closeSeen.settings;
    EXPECT_NE(closeSeen.settings.find("\r\nNormPos="), std::string::npos) << closeSeen.settings;
    EXPECT_FALSE(dialogShownAfterClose) << "the error dialog returns by itself";
    wchar_t status[128] = {};
    ::SendMessageW(Main->sBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    EXPECT_STREQ(status, std::string(outcome) == "ok" ? L"Update OK" : L"Select COM-Port and press START");
    EXPECT_TRUE(::IsWindow(Main->Handle())) << "the window stays until the handler has returned";
    ProcessPendingMessages();
    EXPECT_FALSE(::IsWindow(Main->Handle())) << "then it closes";
    MSG quit;
    EXPECT_TRUE(::PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "and the program ends";
}

// ---------------------------------------------------------------- line events during an update

// Run by window-updates.sh against kordel-sim with KORDEL_WINE_LINE_EVENTS set, so that
// the watcher waits for all ten line events as on Windows (the program leaves the wait
// out under wine), and hands what arrives to the window's thread, waiting until that
// thread has run it. First a whole reply waits in the driver's queue while the window's
// thread runs the hand-overs its arrival raised: ReadByte must still find every byte.
// Then an update, whose block replies the module dribbles in byte by byte, so that
// received data keeps raising events while the window's thread sits in ReadByte; their
// hand-overs run at its next look at its messages, between two blocks. The update must
// run to its end as without the events: no deadlock, every reply read whole (the script
// compares the module's flash with the image).
TEST(LineEventsDuringUpdateTest, ReachTheWindowThreadWithoutStallingTheUpdate) {
    const char* port = std::getenv("KORDEL_TEST_PORT");
    if (!port || !std::getenv("KORDEL_WINE_LINE_EVENTS"))
        GTEST_SKIP() << "run by window-updates.sh";
    std::ofstream("Kordel_Update.ini", std::ios::binary)
        << "[CONFIG]\r\nComPort=" << port << "\r\n";
    TApplicationObjects objects;
    Main->Show();
    ProcessPendingMessages();
    ASSERT_EQ(TextOf(Main->cbPort), std::wstring(port, port + std::strlen(port)));

    struct {
        int total = 0;
        int duringUpdate = 0;
        int elsewhere = 0;  // run on another thread than the window's
        TComEvents kinds = 0;
    } seen;
    const DWORD windowThread = ::GetCurrentThreadId();
    ComIo->cPort->OnLineEvents = [&](TComPort&, TComEvents events) {
        ++seen.total;
        if (Main->Controller->Updating()) ++seen.duringUpdate;
        if (::GetCurrentThreadId() != windowThread) ++seen.elsewhere;
        seen.kinds |= events;
    };
    ComIo->Connect(4407315);
    const std::uint8_t identify[] = {
        FrameStart, 0x01, 0x00, 0x00, 0xF2, FrameMarker, FrameStart ^ 0x01 ^ 0xF2 ^ FrameMarker};
    ASSERT_EQ(ComIo->cPort->Write(identify, sizeof identify), 7);
    for (int i = 0; i < 20; ++i) {
        ::Sleep(10);
        ProcessPendingMessages();
    }
    const int whileWaiting = seen.total;
    int replyBytes = 0;
    while (ComIo->ReadByte(200) >= 0) ++replyBytes;
    ComIo->DisConnect();
    EXPECT_GT(whileWaiting, 0) << "no hand-over ran while the reply waited";
    EXPECT_EQ(replyBytes, 55) << "the identification reply, 7 + 48 bytes";

    ::SendMessageW(Main->ButStart, BM_CLICK, 0, 0);  // the whole update, to its end
    ComIo->cPort->OnLineEvents = nullptr;

    wchar_t status[128] = {};
    ::SendMessageW(Main->sBar, SB_GETTEXTW, 0, reinterpret_cast<LPARAM>(status));
    EXPECT_STREQ(status, L"Update OK");
    EXPECT_GT(seen.duringUpdate, 0) << "no line event reached the window during the update";
    EXPECT_EQ(seen.elsewhere, 0) << "line events ran off the window's thread";
    EXPECT_TRUE(seen.kinds & evRxChar) << "received data raised no event";
    std::printf("line events: %d hand-overs, %d during the update, kinds 0x%X\n", seen.total,
                seen.duringUpdate, static_cast<unsigned>(seen.kinds));
}

}  // namespace
}  // namespace kordel::win32

// The tests run in a scratch folder: the window reads and writes its settings file in
// the current directory.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    const std::filesystem::path scratch =
        std::filesystem::path(temp) / ("kordel-window-" + std::to_string(::GetCurrentProcessId()));
    std::filesystem::create_directories(scratch);
    std::filesystem::current_path(scratch);
    const int result = RUN_ALL_TESTS();
    std::filesystem::current_path(temp);
    std::error_code ignored;
    std::filesystem::remove_all(scratch, ignored);
    return result;
}
