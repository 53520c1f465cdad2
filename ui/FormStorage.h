// The placement keeper: restores the main window's position and show state from the
// settings store at the first show, and saves them when the window closes, in the
// section named after the window:
//   FormVersion, ShowCmd, Flags, PixelsPerInch,
//   MinMaxPos(WxH), MinMaxPos, NormPos(WxH), NormPos
// where WxH is the virtual desktop's size.
#pragma once

#include <string>

#include "IniFile.h"

namespace kordel {

struct TPoint {
    int x = 0;
    int y = 0;
};

struct TRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
};

// Show commands of a placement record (named apart from the Win32 macros SW_*).
inline constexpr int ShowCmdHide = 0;
inline constexpr int ShowCmdNormal = 1;
inline constexpr int ShowCmdMinimized = 2;
inline constexpr int ShowCmdMaximized = 3;

struct TWindowPlacement {
    int flags = 0;
    int showCmd = ShowCmdNormal;
    TPoint minPosition{-1, -1};
    TPoint maxPosition{-1, -1};
    TRect normalPosition;  // the frame, work-area coordinates, right/bottom one past
};

enum class TWindowState { Normal, Minimized, Maximized };

// What the keeper needs from the window system.
class TPlacementWindow {
  public:
    virtual ~TPlacementWindow() = default;
    virtual TWindowPlacement GetPlacement() = 0;
    // Moves the window to placement.normalPosition's left/top, keeping its size.
    virtual void SetPlacement(const TWindowPlacement& placement) = 0;
    virtual bool ApplicationMinimized() = 0;
    virtual int ScreenPixelsPerInch() = 0;
    virtual TPoint VirtualDesktopSize() = 0;
    virtual bool PointOnMonitor(TPoint work) = 0;
    // The window system stops choosing the position (it chose it until now).
    virtual void UseOwnPosition() = 0;
    virtual void SetWindowState(TWindowState state) = 0;
    // Minimises the application right after the window has been shown.
    virtual void PostMinimize() = 0;
    virtual TPoint ThinBorder() = 0;
};

class TFormStorage {
  public:
    TFormStorage(TIniFile& store, TPlacementWindow& window, std::string formName);

    static constexpr int Version = 0;

    // Raises EConvertError when a number in the file is not one; the group is closed
    // and the file written all the same.
    void RestoreFormPlacement();
    void SaveFormPlacement();
    bool Restored() const { return restored_; }
    bool Saved() const { return saved_; }

  private:
    std::string Path(const std::string& key) const { return section_ + "\\" + key; }
    std::string DesktopKey(const std::string& key);
    std::string ReadPositionText(const std::string& key);
    void RestorePlacement();

    TIniFile& store_;
    TPlacementWindow& window_;
    std::string section_;
    bool restored_ = false;
    bool saved_ = false;
    TPoint maxPosition_{-1, -1};
};

}  // namespace kordel
