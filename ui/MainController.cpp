#include "MainController.h"

#include <algorithm>

#include "DistCopy.h"
#include "Resources.h"

namespace kordel {

namespace {

// The window's progress bar as the update's progress sink.
class ViewProgress : public TProgressSink {
  public:
    explicit ViewProgress(TMainView& view) : view_(view) {}
    void SetMaximum(std::uint32_t maximum) override { view_.SetProgressMaximum(maximum); }
    void SetPosition(std::uint32_t position) override { view_.SetProgressPosition(position); }

  private:
    TMainView& view_;
};

}  // namespace

TShownProgress ShownProgress(std::uint32_t maximum, std::uint32_t position) {
    const std::uint32_t shownMaximum = std::max<std::uint32_t>(1, maximum);
    return {shownMaximum, std::min(position, shownMaximum)};
}

std::string PortBoxHint(const std::string& shownName, bool nameFits) {
    if (nameFits || shownName.empty()) return PortHint;
    return std::string(PortHint) + "\n" + shownName;
}

TMainController::TMainController(TMainView& view, TIniFile& settings, TFormStorage& placement,
                                 TPortListSource ports)
    : view_(view), settings_(settings), placement_(placement), ports_(std::move(ports)) {
    settings_.OnReadFailure = [this](const std::string& message) {
        view_.ShowStandardError(message);
    };
}

void TMainController::FormCreate() {
    settings_.SetFileName(SettingsFileName);
}

void TMainController::FirstShow() {
    try {
        placement_.RestoreFormPlacement();
    } catch (const std::exception& e) {
        view_.ShowStandardError(e.what());
    }
    FormShow();
}

void TMainController::FormShow() {
    bool imageLoaded = true;
    try {
        Image.LoadBiosInfo();
    } catch (const EResNotFound& e) {
        // Without an image there is nothing to write: say so once and keep START off.
        imageLoaded = false;
        view_.ShowStandardError(std::string(e.what()) +
                                ": this program carries no firmware image, so it cannot update.");
        view_.SetStartEnabled(false);
    }
    if (imageLoaded) {
        progTitle_ = ProgTitleStr(Image.BufBiosInfo);
        view_.SetTitle(progTitle_);
        DistributionCopyStep();
        view_.SetBiosLabels(BiosVersionStr(Image.BufBiosInfo), BiosInfoStr(Image.BufBiosInfo));
    }
    settings_.DefaultSection = "CONFIG";
    RefreshPorts(settings_.ReadString("ComPort", ""));
    view_.SetProgressPosition(0);
    view_.SetStatus(StatusIdle);
}

void TMainController::DistributionCopyStep() {
    if (!DistCopyRequested(view_.Arguments()) || !view_.DevEnvironmentPresent()) return;
    view_.ShowDebugLog();
    const std::string exe = view_.ExecutablePath();
    const std::string name =
        VersionedFileName(exe, Image.BufBiosInfo.VersHi, Image.BufBiosInfo.VersLo);
    view_.LogLine(name);
    CopyToDist(exe, name);
}

// Starts from the entries the selector holds, so that a platform list that cannot be
// read leaves them as they were.
void TMainController::RefreshPorts(const std::string& remembered) {
    RefreshPortList(portSelector_, remembered, ports_);
    view_.SetPortList(portSelector_);
}

void TMainController::cbPortDropDown() {
    RefreshPorts(view_.PortText());
}

// The view shows names only; the entry that has the shown name says what to open.
std::string TMainController::SelectedPortToOpen() {
    const std::string shown = view_.PortText();
    const auto& items = portSelector_.Items;
    const auto found = std::find_if(items.begin(), items.end(),
                                    [&](const TPortEntry& item) { return item.Name == shown; });
    return found == items.end() ? shown : PortToOpen(*found);
}

void TMainController::ButStartClick(TComIo& io) {
    if (updating_ || !Image.Loaded()) return;
    updating_ = true;
    view_.SetStartEnabled(false);
    view_.SetStatus(StatusWriting);
    ViewProgress progress(view_);
    try {
        RunUpdate(
            io, {Image.rs, Image.BufBiosInfo, &progress, [this] { view_.ProcessPendingEvents(); }},
            BufBootInfo);
        view_.SetStatus(StatusOk);
        view_.SetProgressPosition(0);
    } catch (const std::exception& e) {
        view_.SetStatus(StatusError);
        view_.ShowUpdateError(e.what());
        view_.SetStatus(StatusIdle);
    }
    try {
        io.DisConnect();
    } catch (const std::exception& e) {
        view_.ShowUpdateError(e.what());
    }
    view_.SetStartEnabled(true);
    updating_ = false;
    if (closePending_) view_.CloseWindow();
}

void TMainController::FormClose() {
    settings_.DefaultSection = "CONFIG";
    settings_.WriteString("ComPort", view_.PortText());
}

bool TMainController::CloseRequested() {
    if (!closeSaved_) {
        closeSaved_ = true;
        try {
            placement_.SaveFormPlacement();
        } catch (const std::exception& e) {
            view_.ShowStandardError(e.what());
        }
        FormClose();
    }
    if (!updating_) return true;
    // The update runs to its end; then the window closes.
    closePending_ = true;
    view_.RequestEnd();
    return false;
}

}  // namespace kordel
