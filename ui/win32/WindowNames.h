// The window classes and control identifiers of kordel-update.exe. They are fixed so
// that other programs (the tests' probe among them) can find the windows and controls
// of a running instance.
#pragma once

namespace kordel::win32 {

inline constexpr wchar_t MainClass[] = L"TMain";
inline constexpr wchar_t DebugClass[] = L"TDebug";
inline constexpr wchar_t MsgBoxClass[] = L"TMsgBox";
inline constexpr wchar_t GroupPanelClass[] = L"TJvgGroupBox";
inline constexpr wchar_t LedClass[] = L"TLed";

// Controls of the main window (the labels and LED are children of their group panel,
// pBar a child of sBar), of the debug log and of the message dialog.
enum ControlId : int {
    IdJvgGroupBox2 = 100,
    IdLabBiosVersion,
    IdLabBiosInfo,
    IdJvgGroupBox1,
    IdLabel1,
    IdCbPort,
    IdLed1,
    IdButStart,
    IdButExit,
    IdSBar,
    IdPBar,

    IdMemo = 200,

    IdMsgImg = 300,
    IdMsgInfoLabel,
    IdMsgButtonBase = 310,  // But1 has IdMsgButtonBase + 1, But2 + 2, ...
};

}  // namespace kordel::win32
