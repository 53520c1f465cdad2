// Small widgets of the windows: the group panel with its orange caption bar, the LED,
// the port list that refreshes itself before it opens, push buttons that take Enter,
// a label that underlines its accelerators, the progress bar; the fonts; and the
// helpers that place top-level windows by their outer frame.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>

namespace kordel::qt {

// Where Debian's fonts-wine keeps its metric-compatible Windows fonts.
inline constexpr const char* WineFontDir = "/usr/share/wine/fonts";

// A font of the given family and pixel size. The Windows fonts of WineFontDir are
// loaded the first time; a family this system still lacks is replaced by a near one
// (DejaVu Sans for the sans fonts, Liberation Mono for Courier New).
QFont UiFont(const QString& family, int pixelSize, bool bold = false);

// A framed panel with a caption bar in light orange across its full width.
class TGroupPanel : public QFrame {
    Q_OBJECT
  public:
    TGroupPanel(const QString& caption, QWidget* parent);
    QString Caption() const { return caption_; }
    static constexpr int CaptionHeight = 16;

  signals:
    void clicked();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QString caption_;
};

// A coloured disc: red while Status is false, green while it is true.
class TLed : public QWidget {
    Q_OBJECT
  public:
    explicit TLed(QWidget* parent);
    bool Status() const { return status_; }
    void SetStatus(bool on);

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    bool status_ = false;
};

// A pick-only drop-down list that calls OnDropDown before its list opens.
class TPortCombo : public QComboBox {
    Q_OBJECT
  public:
    using QComboBox::QComboBox;
    std::function<void()> OnDropDown;
    void showPopup() override;
    // Whether the closed box shows the text whole (a longer text is cut with "...").
    bool TextFits(const QString& text) const;
};

// A push button that Enter presses while it has the focus, as Space does. It is never
// a default button: Enter elsewhere does not reach it.
class TButton : public QPushButton {
    Q_OBJECT
  public:
    using QPushButton::QPushButton;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
};

// A label whose "&x" shows x underlined and "&&" one ampersand.
class TMnemonicLabel : public QLabel {
    Q_OBJECT
  public:
    using QLabel::QLabel;
    // The size the text takes in this label's font.
    QSize TextSize(const QString& text) const;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// A progress bar with a continuous fill that is drawn at once for every new value:
// during an update the event loop runs only once per block, so a bar that waits for
// it shows an old value.
class TProgressBar : public QProgressBar {
    Q_OBJECT
  public:
    using QProgressBar::QProgressBar;
    void Show(int maximum, int value);
    // The width of the fill for the current value, in pixels.
    int FillWidth() const;
    static constexpr int Inset = 1;

  protected:
    void paintEvent(QPaintEvent* event) override;
};

// The frame that the window manager put around a top-level window; empty while the
// window has none (not yet mapped, or a platform that draws no frames).
QMargins FrameMargins(const QWidget* window);

// Places a top-level window so that its frame's top-left corner lands on `point`.
// Before the native window exists Qt places the frame itself; after that, `frame` (as
// the window manager last drew it) gives the client area's place.
void MoveFrameTo(QWidget* window, QPoint point, QMargins frame = {});

// Asks the window manager for a caption and a border only (no system menu, no
// minimise, maximise or close buttons); closing by the keyboard stays allowed. Does
// nothing on a platform without such hints.
void SetCaptionOnlyDecorations(QWidget* window);

// Gives a top-level window an outer size (frame included): the client area is the
// outer size less the frame. The frame is known only once the window manager has
// framed the mapped window, so the size is fitted again when it becomes known. A
// fixed window keeps following its frame; a sizeable one stops a second after it was
// shown, so that the user's own resizing stays.
class TOuterSize : public QObject {
    Q_OBJECT
  public:
    TOuterSize(QWidget* window, bool fixed);
    // `guess` stands for the frame until this window's own frame has been seen.
    void Set(QSize outer, QMargins guess = {});
    QSize Outer() const { return outer_; }
    // The frame as last seen (empty until the window has been framed once).
    QMargins LastFrame() const { return lastFrame_; }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void Fit(QMargins frame);

    QWidget* window_;
    bool fixed_;
    bool settled_ = false;
    QSize outer_;
    QMargins lastFrame_;
    QMargins guess_;
    QTimer poll_;
    int pollsLeft_ = 0;
};

}  // namespace kordel::qt
