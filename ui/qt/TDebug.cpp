#include "TDebug.h"

#include <QEvent>
#include <QVBoxLayout>

#include "Widgets.h"

namespace kordel::qt {

TDebug::TDebug(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName("Debug");
    setWindowTitle("Debug");
    setFont(UiFont("MS Sans Serif", 11));
    setAttribute(Qt::WA_QuitOnClose, false);  // closing only hides it
    // 594 x 554 is the outer size, frame and caption included.
    (new TOuterSize(this, false))->Set(QSize(594, 554));
    Memo = new QPlainTextEdit(this);
    Memo->setObjectName("Memo");
    Memo->setReadOnly(true);
    Memo->setFont(UiFont("Courier New", 11));
    Memo->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo->viewport()->installEventFilter(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo);

    append = [this](const std::string& line) {
        Memo->appendPlainText(QString::fromStdString(line));
    };
    clear = [this] { Memo->clear(); };
}

void TDebug::MemoDblClick(QObject*) {
    C();
}

bool TDebug::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Memo->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        MemoDblClick(Memo);
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace kordel::qt
