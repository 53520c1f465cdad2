// The main window: image info, port list, START and EXIT, status bar with progress
// bar, and the LED of the serial port. Its behaviour lives in TMainController.
#pragma once

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QWidget>
#include <functional>
#include <memory>

#include "FormStorage.h"
#include "IniFile.h"
#include "MainController.h"
#include "StartFocus.h"
#include "Widgets.h"

namespace kordel {
class TComIo;
}  // namespace kordel

namespace kordel::qt {

class TMain : public QWidget, public TMainView, public TPlacementWindow {
    Q_OBJECT
  public:
    explicit TMain(TPortListSource ports = {});
    ~TMain() override;

    // The link the START handler uses (the global ComIo, created after the window).
    std::function<TComIo*()> Link;

    // controls
    TGroupPanel* JvgGroupBox2;
    QLabel* LabBiosVersion;
    QLabel* LabBiosInfo;
    TGroupPanel* JvgGroupBox1;
    QLabel* Label1;
    TPortCombo* cbPort;
    TLed* LED1;
    TButton* ButStart;
    TButton* ButExit;
    QWidget* sBar;
    QLabel* StatusPanel;
    TProgressBar* pBar;

    // non-visual components
    TIniFile IniFile;
    std::unique_ptr<TFormStorage> JvFormStorage1;
    std::unique_ptr<TMainController> Controller;

    // The progress values as the update set them (the bar shows them clamped).
    std::uint32_t ProgressMaximum() const { return progress_.Maximum(); }
    std::uint32_t ProgressPosition() const { return progress_.Position(); }
    QString StatusText() const { return StatusPanel->text(); }
    // The title of the application (its task-bar entry), set at the first show.
    QString ApplicationTitle() const { return applicationTitle_; }

    // handlers
    void FormCreate(QObject* Sender);
    void FormShow(QObject* Sender);
    void FormClose(QObject* Sender);
    void cbPortDropDown(QObject* Sender);
    void ButStartClick(QObject* Sender);
    void ButExitClick(QObject* Sender);
    void JvgGroupBox1Click(QObject* Sender);

    void setVisible(bool visible) override;

    // TMainView
    void SetTitle(const std::string& title) override;
    void SetBiosLabels(const std::string& version, const std::string& info) override;
    void SetStatus(const std::string& text) override;
    void SetProgressMaximum(std::uint32_t maximum) override;
    void SetProgressPosition(std::uint32_t position) override;
    void SetStartEnabled(bool enabled) override;
    void SetPortList(const TPortSelector& selector) override;
    std::string PortText() override;
    void ProcessPendingEvents() override;
    void ShowUpdateError(const std::string& message) override;
    void ShowStandardError(const std::string& message) override;
    void RequestEnd() override;
    void CloseWindow() override;
    std::vector<std::string> Arguments() override;
    bool DevEnvironmentPresent() override;
    void ShowDebugLog() override;
    void LogLine(const std::string& line) override;
    std::string ExecutablePath() override;

    // TPlacementWindow
    TWindowPlacement GetPlacement() override;
    void SetPlacement(const TWindowPlacement& placement) override;
    bool ApplicationMinimized() override;
    int ScreenPixelsPerInch() override;
    TPoint VirtualDesktopSize() override;
    bool PointOnMonitor(TPoint work) override;
    void UseOwnPosition() override;
    void SetWindowState(TWindowState state) override;
    void PostMinimize() override;
    TPoint ThinBorder() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void BuildControls();
    void ShowProgress(const TShownProgress& shown);
    TFocusAt FocusAt() const;
    void ShowPortHint();
    QPoint WorkAreaOrigin() const;
    void NoteNormalFrame();

    bool shown_ = false;
    TStartFocus startFocus_;
    QString applicationTitle_;
    QRect normalFrame_;             // the frame in the normal state, screen coordinates
    bool normalFrameSeen_ = false;  // normalFrame_ was measured, not only restored
    TProgressState progress_;
};

// Whether a top-level window of the given class exists on this display (X11 only).
bool TopLevelWindowOfClassExists(const char* windowClass);

}  // namespace kordel::qt
