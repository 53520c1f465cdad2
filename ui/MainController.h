// The main window's behaviour, apart from the toolkit: the show steps, the START flow
// with its status texts, the port-list refresh, the close path and the settings hooks.
// The window implements TMainView and forwards its events to the handlers here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ComIo.h"
#include "FormStorage.h"
#include "IniFile.h"
#include "PortList.h"
#include "Update.h"

namespace kordel {

inline constexpr const char* SettingsFileName = "Kordel_Update.ini";
inline constexpr const char* StatusIdle = "Select COM-Port and press START";
inline constexpr const char* StatusWriting = "Writing update...";
inline constexpr const char* StatusOk = "Update OK";
inline constexpr const char* StatusError = "ERROR";

inline constexpr const char* PortHint = "Select COM-Port for Halvern";

// The port box's tool tip: its hint, and below it the selected port's whole name when
// the box is too narrow to show all of it.
std::string PortBoxHint(const std::string& shownName, bool nameFits);

// What a progress bar shows of the values an update reports: the last block may move
// the position past the maximum, and a maximum of 0 would turn some bars into a busy
// indicator, so both are clamped.
struct TShownProgress {
    std::uint32_t maximum = 1;
    std::uint32_t position = 0;
};
TShownProgress ShownProgress(std::uint32_t maximum, std::uint32_t position);

// The progress an update reported last (the bar's maximum and position), and what the
// bar shows of it.
class TProgressState {
  public:
    TShownProgress SetMaximum(std::uint32_t maximum) {
        maximum_ = maximum;
        return Shown();
    }
    TShownProgress SetPosition(std::uint32_t position) {
        position_ = position;
        return Shown();
    }
    TShownProgress Shown() const { return ShownProgress(maximum_, position_); }
    std::uint32_t Maximum() const { return maximum_; }
    std::uint32_t Position() const { return position_; }

  private:
    std::uint32_t maximum_ = 100;
    std::uint32_t position_ = 0;
};

class TMainView {
  public:
    virtual ~TMainView() = default;
    virtual void SetTitle(const std::string& title) = 0;  // application title and caption
    virtual void SetBiosLabels(const std::string& version, const std::string& info) = 0;
    virtual void SetStatus(const std::string& text) = 0;
    virtual void SetProgressMaximum(std::uint32_t maximum) = 0;
    virtual void SetProgressPosition(std::uint32_t position) = 0;
    virtual void SetStartEnabled(bool enabled) = 0;
    virtual void SetPortList(const TPortSelector& selector) = 0;
    virtual std::string PortText() = 0;
    virtual void ProcessPendingEvents() = 0;
    // The message dialog: the text, an error icon, the caption "Error", one close
    // button and the beep. Returns at once when the program is ending.
    virtual void ShowUpdateError(const std::string& message) = 0;
    // The application's standard error box.
    virtual void ShowStandardError(const std::string& message) = 0;
    // Asks the program to end once control is back in the event loop.
    virtual void RequestEnd() = 0;
    virtual void CloseWindow() = 0;

    // For the developer's distribution copy.
    virtual std::vector<std::string> Arguments() = 0;
    virtual bool DevEnvironmentPresent() = 0;
    virtual void ShowDebugLog() = 0;
    virtual void LogLine(const std::string& line) = 0;
    virtual std::string ExecutablePath() = 0;
};

class TMainController {
  public:
    TMainController(TMainView& view, TIniFile& settings, TFormStorage& placement,
                    TPortListSource ports = {});

    void FormCreate();
    // The first show: restores the placement, then FormShow.
    void FirstShow();
    void FormShow();
    void cbPortDropDown();
    // What the link opens for the port the window shows selected: the selected entry's
    // device (PortToOpen), or the shown text itself when no entry has that name.
    std::string SelectedPortToOpen();
    void ButStartClick(TComIo& io);
    void FormClose();
    // The close path of EXIT and every other close command: saves at once; returns
    // whether the window may close now (not while an update runs).
    bool CloseRequested();

    bool Updating() const { return updating_; }
    const std::string& ProgTitle() const { return progTitle_; }

    TFirmwareImage Image;  // rs and BufBiosInfo
    TBootInfo BufBootInfo;

  private:
    void RefreshPorts(const std::string& remembered);
    void DistributionCopyStep();

    TMainView& view_;
    TIniFile& settings_;
    TFormStorage& placement_;
    TPortListSource ports_;
    // The selector's entries as last shown: only RefreshPorts changes them.
    TPortSelector portSelector_;
    std::string progTitle_;
    bool updating_ = false;
    bool closeSaved_ = false;
    bool closePending_ = false;
};

}  // namespace kordel
