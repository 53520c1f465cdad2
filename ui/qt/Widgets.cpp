#include "Widgets.h"

#include <qdrawutil.h>
#include <QDir>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionComboBox>
#include <QWindow>

namespace kordel::qt {

namespace {

// Tahoma, Tahoma Bold and MS Sans Serif, made to the metrics of the Windows fonts; the
// window's fixed layout was drawn with those.
void LoadWineFonts() {
    static const bool loaded = [] {
        const QDir dir(WineFontDir);
        for (const char* file : {"tahoma.ttf", "tahomabd.ttf", "ms_sans_serif.ttf"}) {
            if (dir.exists(file)) QFontDatabase::addApplicationFont(dir.filePath(file));
        }
        return true;
    }();
    (void)loaded;
}

}  // namespace

QFont UiFont(const QString& family, int pixelSize, bool bold) {
    LoadWineFonts();
    QString use = family;
    if (!QFontDatabase::families().contains(family, Qt::CaseInsensitive)) {
        use = family == "Courier New" ? QStringLiteral("Liberation Mono")
                                      : QStringLiteral("DejaVu Sans");
    }
    QFont font(use);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

TGroupPanel::TGroupPanel(const QString& caption, QWidget* parent)
    : QFrame(parent), caption_(caption) {
    setFrameStyle(QFrame::Box | QFrame::Sunken);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
}

void TGroupPanel::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    const QRect bar(1, 1, width() - 2, CaptionHeight);
    p.fillRect(bar, QColor(255, 207, 159));
    p.setPen(palette().color(QPalette::HighlightedText));
    p.setFont(font());
    p.drawText(bar.adjusted(2, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter, caption_);
}

// Clicks reach the panel's handler; the panel itself never collapses.
void TGroupPanel::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
        emit clicked();
    }
    QFrame::mouseReleaseEvent(event);
}

TLed::TLed(QWidget* parent) : QWidget(parent) {}

void TLed::SetStatus(bool on) {
    if (status_ == on) return;
    status_ = on;
    update();
}

void TLed::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor lit = status_ ? QColor(0, 200, 0) : QColor(220, 0, 0);
    QRadialGradient shine(width() * 0.35, height() * 0.35, width() * 0.6);
    shine.setColorAt(0, lit.lighter(170));
    shine.setColorAt(1, lit.darker(120));
    p.setBrush(shine);
    p.setPen(QPen(Qt::darkGray, 1));
    p.drawEllipse(QRectF(1.5, 1.5, width() - 3, height() - 3));
}

void TPortCombo::showPopup() {
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
}

// The field the closed box draws its text into, as its style lays it out.
bool TPortCombo::TextFits(const QString& text) const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    const QRect field =
        style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, this);
    return fontMetrics().horizontalAdvance(text) <= field.width();
}

// Qt's push buttons take Enter only as default buttons of a dialog.
void TButton::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    if (enter && modifiers == Qt::NoModifier) {
        event->accept();
        if (isEnabled()) click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

QSize TMnemonicLabel::TextSize(const QString& text) const {
    return fontMetrics().size(Qt::TextShowMnemonic, text);
}

void TMnemonicLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setFont(font());
    p.setPen(palette().color(foregroundRole()));
    p.drawText(contentsRect(), static_cast<int>(alignment()) | Qt::TextShowMnemonic, text());
}

void TProgressBar::Show(int maximum, int value) {
    setRange(0, maximum);
    setValue(value);
    if (isVisible()) repaint();
}

int TProgressBar::FillWidth() const {
    const qint64 range = qint64(maximum()) - minimum();
    const qint64 done = qBound<qint64>(0, qint64(value()) - minimum(), range);
    const int inner = width() - 2 * Inset;
    return range <= 0 || inner <= 0 ? 0 : static_cast<int>(done * inner / range);
}

void TProgressBar::paintEvent(QPaintEvent*) {
    QPainter p(this);
    qDrawShadePanel(&p, rect(), palette(), true, Inset);
    const QRect inner = rect().adjusted(Inset, Inset, -Inset, -Inset);
    p.fillRect(inner, palette().color(QPalette::Base));
    p.fillRect(QRect(inner.topLeft(), QSize(FillWidth(), inner.height())),
               palette().color(QPalette::Highlight));
}

QMargins FrameMargins(const QWidget* window) {
    const QWindow* handle = window->windowHandle();
    return handle && window->isVisible() ? handle->frameMargins() : QMargins();
}

// QWidget::move() places the frame only until the native window exists; after that it
// places the client area, and the window manager puts the frame around it.
void MoveFrameTo(QWidget* window, QPoint point, QMargins frame) {
    if (window->testAttribute(Qt::WA_WState_Created)) {
        window->move(point + QPoint(frame.left(), frame.top()));
    } else {
        window->move(point);
    }
}

TOuterSize::TOuterSize(QWidget* window, bool fixed)
    : QObject(window), window_(window), fixed_(fixed) {
    window_->installEventFilter(this);
    poll_.setInterval(25);
    connect(&poll_, &QTimer::timeout, this, [this] {
        Fit(FrameMargins(window_));
        if (--pollsLeft_ > 0) return;
        poll_.stop();
        if (!fixed_) settled_ = true;
    });
}

void TOuterSize::Set(QSize outer, QMargins guess) {
    outer_ = outer;
    guess_ = guess;
    settled_ = false;
    Fit(FrameMargins(window_));
}

bool TOuterSize::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_) {
        switch (event->type()) {
            case QEvent::Show:
                pollsLeft_ = 40;
                poll_.start();
                break;
            case QEvent::Move:
            case QEvent::Resize:
                Fit(FrameMargins(window_));
                break;
            default:
                break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void TOuterSize::Fit(QMargins frame) {
    if (settled_ || outer_.isEmpty()) return;
    // A window being mapped has no frame for a moment: the last one stands for it.
    if (!frame.isNull()) lastFrame_ = frame;
    frame = !lastFrame_.isNull() ? lastFrame_ : guess_;
    const QSize client = outer_ - QSize(frame.left() + frame.right(), frame.top() + frame.bottom());
    if (window_->size() == client && (!fixed_ || window_->minimumSize() == client)) return;
    if (fixed_) {
        window_->setFixedSize(client);
    } else {
        window_->resize(client);
    }
}

}  // namespace kordel::qt
