#include "Widgets.h"

#include <QFontDatabase>
#include <QMouseEvent>
#include <QPainter>

namespace kordel {

QFont UiFont(const QString& family, int pixelSize, bool bold) {
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

}  // namespace kordel
