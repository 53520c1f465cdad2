#include "TMain.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCloseEvent>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include "ComIo.h"
#include "DistCopy.h"
#include "Globals.h"
#include "TDebug.h"
#include "TMsgBox.h"

namespace kordel::qt {

namespace {

const QColor Maroon(128, 0, 0);

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QFont& font,
                  const QColor& colour) {
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    label->setFont(font);
    // On a group panel (button-face background) a label would draw in ButtonText.
    label->setForegroundRole(QPalette::WindowText);
    QPalette p = label->palette();
    p.setColor(QPalette::WindowText, colour);
    label->setPalette(p);
    return label;
}

}  // namespace

TMain::TMain(TPortListSource ports) : QWidget(nullptr) {
    setObjectName("Main");
    setWindowTitle("Main");
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFont(UiFont("MS Sans Serif", 11));
    setFixedSize(355, 185);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    BuildControls();
    JvFormStorage1 = std::make_unique<TFormStorage>(IniFile, *this, "Main");
    Controller =
        std::make_unique<TMainController>(*this, IniFile, *JvFormStorage1, std::move(ports));
    FormCreate(this);
}

// A main window destroyed without having been closed (the program asked to end by
// other means) still saves its placement.
TMain::~TMain() {
    if (JvFormStorage1->Saved()) return;
    try {
        JvFormStorage1->SaveFormPlacement();
    } catch (const std::exception&) {
        // No window is left to report to; the file keeps what it held.
    }
}

void TMain::BuildControls() {
    const QFont groupFont = UiFont("Tahoma", 11, true);
    const QFont infoFont = UiFont("Tahoma", 12, true);
    const QFont buttonFont = UiFont("Verdana", 11, true);

    JvgGroupBox2 = new TGroupPanel("  BIOS-INFO", this);
    JvgGroupBox2->setObjectName("JvgGroupBox2");
    JvgGroupBox2->setGeometry(8, 4, 339, 69);
    JvgGroupBox2->setFont(groupFont);
    LabBiosVersion = MakeLabel(JvgGroupBox2, "LabBiosVersion", "---", infoFont, Maroon);
    LabBiosVersion->setGeometry(9, 21, 232, 16);
    LabBiosVersion->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    LabBiosInfo = MakeLabel(JvgGroupBox2, "LabBiosInfo", "---", infoFont, Maroon);
    LabBiosInfo->setGeometry(9, 43, 233, 22);
    LabBiosInfo->setWordWrap(true);
    LabBiosInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    JvgGroupBox1 = new TGroupPanel(" SERIAL INTERFACE", this);
    JvgGroupBox1->setObjectName("JvgGroupBox1");
    JvgGroupBox1->setGeometry(8, 79, 339, 50);
    JvgGroupBox1->setFont(groupFont);
    connect(JvgGroupBox1, &TGroupPanel::clicked, this, [this] { JvgGroupBox1Click(JvgGroupBox1); });
    Label1 = MakeLabel(JvgGroupBox1, "Label1", "COM-Port:", groupFont, Qt::black);
    Label1->move(25, 27);
    Label1->adjustSize();
    cbPort = new TPortCombo(JvgGroupBox1);
    cbPort->setObjectName("cbPort");
    cbPort->setGeometry(88, 23, 81, 21);
    cbPort->setFont(groupFont);
    cbPort->setEditable(false);
    cbPort->setToolTip(PortHint);
    // The closed box and its opened list alike: maroon, Tahoma bold.
    QPalette comboPalette = cbPort->palette();
    comboPalette.setColor(QPalette::ButtonText, Maroon);
    comboPalette.setColor(QPalette::Text, Maroon);
    comboPalette.setColor(QPalette::WindowText, Maroon);
    cbPort->setPalette(comboPalette);
    cbPort->view()->setPalette(comboPalette);
    cbPort->view()->setFont(groupFont);
    // Names of ports outside /dev can be longer than the box; the opened list shows them whole.
    cbPort->view()->setMinimumWidth(180);
    cbPort->OnDropDown = [this] { cbPortDropDown(cbPort); };
    connect(cbPort, &QComboBox::currentIndexChanged, this, [this] { ShowPortHint(); });
    LED1 = new TLed(JvgGroupBox1);
    LED1->setObjectName("LED1");
    LED1->setGeometry(175, 25, 17, 17);

    ButStart = new TButton("START", this);
    ButStart->setObjectName("ButStart");
    ButStart->setGeometry(8, 135, 185, 25);
    ButStart->setFont(buttonFont);
    ButStart->setToolTip("Start update for Halvern and Halvern expert");
    ButExit = new TButton("EXIT", this);
    ButExit->setObjectName("ButExit");
    ButExit->setGeometry(272, 135, 75, 25);
    ButExit->setFont(buttonFont);
    ButExit->setToolTip("Exit");
    for (QPushButton* b : {ButStart, ButExit}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    connect(ButStart, &QPushButton::clicked, this, [this] { ButStartClick(ButStart); });
    connect(ButExit, &QPushButton::clicked, this, [this] { ButExitClick(ButExit); });

    sBar = new QWidget(this);
    sBar->setObjectName("sBar");
    sBar->setGeometry(0, 166, 355, 19);
    sBar->setFont(groupFont);
    StatusPanel = MakeLabel(sBar, "StatusPanel", "", groupFont, Qt::black);
    StatusPanel->setGeometry(2, 2, 246, 17);
    StatusPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    auto* secondPanel = new QFrame(sBar);
    secondPanel->setGeometry(250, 2, 50, 17);
    secondPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pBar = new TProgressBar(sBar);
    pBar->setObjectName("pBar");
    pBar->setGeometry(252, 2, 102, 17);
    pBar->setTextVisible(false);
    pBar->setRange(0, 100);
    pBar->setValue(0);

    // Tab order: START, EXIT, then the port list; START has the focus at start.
    setTabOrder(ButStart, ButExit);
    setTabOrder(ButExit, cbPort);
    ButStart->setFocus();
}

// ---------------------------------------------------------------- handlers

void TMain::FormCreate(QObject*) {
    Controller->FormCreate();
}
void TMain::FormShow(QObject*) {
    Controller->FormShow();
}
void TMain::FormClose(QObject*) {
    Controller->FormClose();
}
void TMain::cbPortDropDown(QObject*) {
    Controller->cbPortDropDown();
}
void TMain::ButExitClick(QObject*) {
    close();
}
void TMain::JvgGroupBox1Click(QObject*) {}

void TMain::ButStartClick(QObject*) {
    if (TComIo* io = Link ? Link() : nullptr) Controller->ButStartClick(*io);
}

// The first show restores the placement before the native window exists, so that the
// window manager maps the frame at the saved place, then runs FormShow.
void TMain::setVisible(bool visible) {
    if (visible && !shown_) {
        shown_ = true;
        Controller->FirstShow();
    }
    QWidget::setVisible(visible);
}

void TMain::closeEvent(QCloseEvent* event) {
    if (Controller->CloseRequested()) {
        event->accept();
    } else {
        event->ignore();
    }
}

// ---------------------------------------------------------------- TMainView

// The application title goes to the caption of the standard error box and of the
// main window; Qt's application display name would be appended to every other
// window's caption ("Error — ...").
void TMain::SetTitle(const std::string& title) {
    applicationTitle_ = QString::fromStdString(title);
    setWindowTitle(applicationTitle_);
}

void TMain::SetBiosLabels(const std::string& version, const std::string& info) {
    LabBiosVersion->setText(QString::fromStdString(version));
    LabBiosInfo->setText(QString::fromStdString(info));
}

void TMain::SetStatus(const std::string& text) {
    StatusPanel->setText(QString::fromStdString(text));
}

void TMain::SetProgressMaximum(std::uint32_t maximum) {
    ShowProgress(progress_.SetMaximum(maximum));
}

void TMain::SetProgressPosition(std::uint32_t position) {
    ShowProgress(progress_.SetPosition(position));
}

void TMain::ShowProgress(const TShownProgress& shown) {
    pBar->Show(static_cast<int>(shown.maximum), static_cast<int>(shown.position));
}

TFocusAt TMain::FocusAt() const {
    const QWidget* focus = focusWidget();
    if (!focus) return TFocusAt::Nothing;
    if (focus == this) return TFocusAt::Window;
    if (focus == ButStart || ButStart->hasFocus()) return TFocusAt::Start;
    return TFocusAt::OtherControl;
}

// Qt hands the focus of a disabled button to the next control; TStartFocus keeps it on
// the window instead.
void TMain::SetStartEnabled(bool enabled) {
    if (enabled) {
        ButStart->setEnabled(true);
        if (startFocus_.OnEnabling(FocusAt()) == TFocusAt::Start) ButStart->setFocus();
        startFocus_.Enabled();
        return;
    }
    if (startFocus_.Disabling(FocusAt()) == TFocusAt::Window) setFocus(Qt::OtherFocusReason);
    ButStart->setEnabled(false);
}

void TMain::SetPortList(const TPortSelector& selector) {
    cbPort->clear();
    for (const auto& item : selector.Items) {
        const QString name = QString::fromStdString(item.Name);
        cbPort->addItem(name);
        cbPort->setItemData(cbPort->count() - 1, QColor(Maroon), Qt::ForegroundRole);
        cbPort->setItemData(cbPort->count() - 1, name, Qt::ToolTipRole);
    }
    cbPort->setCurrentIndex(selector.ItemIndex);
    ShowPortHint();
}

void TMain::ShowPortHint() {
    const QString name = cbPort->currentText();
    cbPort->setToolTip(
        QString::fromStdString(PortBoxHint(name.toStdString(), cbPort->TextFits(name))));
}

std::string TMain::PortText() {
    return cbPort->currentText().toStdString();
}

void TMain::ProcessPendingEvents() {
    QCoreApplication::processEvents();
}

void TMain::ShowUpdateError(const std::string& message) {
    MsgBox->Execute(QString::fromStdString(message), mtError, "Error", TMsgBut{mbClose}, true);
}

void TMain::ShowStandardError(const std::string& message) {
    const QString caption =
        applicationTitle_.isEmpty() ? QCoreApplication::applicationName() : applicationTitle_;
    QMessageBox box(QMessageBox::Critical, caption, QString::fromStdString(message),
                    QMessageBox::Ok, isVisible() ? this : nullptr);
    box.setObjectName("StandardErrorBox");
    box.exec();
}

void TMain::RequestEnd() {
    MsgBox->SetEnding(true);
}

void TMain::CloseWindow() {
    close();
}

// The arguments as the process received them: QApplication removes its own options
// (-style, -platform, ...) from what it keeps.
std::vector<std::string> TMain::Arguments() {
    if (const auto& received = ProcessArguments(); received) return *received;
    std::vector<std::string> args;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) args.push_back(all[i].toStdString());
    return args;
}

bool TMain::DevEnvironmentPresent() {
    return QGuiApplication::platformName() == "xcb" &&
           TopLevelWindowOfClassExists(DevEnvironmentClass);
}

void TMain::ShowDebugLog() {
    Debug->show();
}
void TMain::LogLine(const std::string& line) {
    Debug->S(line);
}
std::string TMain::ExecutablePath() {
    return QCoreApplication::applicationFilePath().toStdString();
}

// ---------------------------------------------------------------- TPlacementWindow

// Positions are kept relative to the primary screen's work area.
QPoint TMain::WorkAreaOrigin() const {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry().topLeft() : QPoint();
}

// Notes the frame while the window is shown in the normal state: a minimised or
// maximised window no longer has it, and Qt's normalGeometry() follows the minimised
// window.
void TMain::NoteNormalFrame() {
    const QWindow* handle = windowHandle();
    if (!isVisible() || !handle || !handle->isExposed() || isMinimized() || isMaximized() ||
        isFullScreen()) {
        return;
    }
    normalFrame_ = frameGeometry();
    normalFrameSeen_ = true;
}

void TMain::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    NoteNormalFrame();
}

void TMain::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    NoteNormalFrame();
}

TWindowPlacement TMain::GetPlacement() {
    TWindowPlacement p;
    p.flags = 0;
    p.showCmd = isMinimized() ? ShowCmdMinimized : isMaximized() ? ShowCmdMaximized : ShowCmdNormal;
    NoteNormalFrame();
    QRect frame = normalFrame_.isValid() ? normalFrame_ : frameGeometry();
    if (!normalFrameSeen_) {
        // Shown maximised or minimised from the start: the place is the restored one; the
        // normal frame's size is not known, the client's and the present frame's stand for it.
        const QMargins m = FrameMargins(this);
        frame.setSize(size().grownBy(m));
    }
    const QRect outer = frame.translated(-WorkAreaOrigin());
    p.normalPosition = {outer.left(), outer.top(), outer.left() + outer.width(),
                        outer.top() + outer.height()};
    return p;
}

// NormPos is the frame's position, and the frame goes back to it.
void TMain::SetPlacement(const TWindowPlacement& placement) {
    const QPoint frame =
        QPoint(placement.normalPosition.left, placement.normalPosition.top) + WorkAreaOrigin();
    MoveFrameTo(this, frame);
    normalFrame_ = QRect(frame, normalFrame_.isValid() ? normalFrame_.size() : size());
}

bool TMain::ApplicationMinimized() {
    return isMinimized();
}

int TMain::ScreenPixelsPerInch() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? qRound(screen->logicalDotsPerInch()) : 96;
}

TPoint TMain::VirtualDesktopSize() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->virtualSize() : QSize();
    return {size.width(), size.height()};
}

bool TMain::PointOnMonitor(TPoint work) {
    return QGuiApplication::screenAt(QPoint(work.x, work.y) + WorkAreaOrigin()) != nullptr;
}

void TMain::UseOwnPosition() {
    setAttribute(Qt::WA_Moved);
}

void TMain::SetWindowState(TWindowState state) {
    setWindowState(state == TWindowState::Maximized ? Qt::WindowMaximized : Qt::WindowNoState);
    update();
}

void TMain::PostMinimize() {
    QTimer::singleShot(0, this, [this] { setWindowState(windowState() | Qt::WindowMinimized); });
}

TPoint TMain::ThinBorder() {
    return {1, 1};
}

}  // namespace kordel::qt
