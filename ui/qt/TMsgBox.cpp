#include "TMsgBox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>

#include "Widgets.h"

// The icons are compiled into this library; a static library must register them itself.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kordel {

namespace {

// "&x" marks an accelerator and is not shown; "&&" shows one ampersand.
QString WithoutAccelerators(const QString& text) {
    QString out;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '&' && i + 1 < text.size()) ++i;
        out += text[i];
    }
    return out;
}

}  // namespace

TMsgBox::TMsgBox(QWidget* owner) : QDialog(owner) {
    InitIconResources();
    setWindowFlags(Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setObjectName("MsgBox");
    setWindowTitle("MsgBox");
    setFont(UiFont("MS Sans Serif", 11));
    setModal(true);
    resize(295, 123);
    static const char* const names[] = {"warning", "error", "information", "confirmation"};
    for (int i = 0; i < 4; ++i) IconImg[i] = QPixmap(QString(":/icons/%1.png").arg(names[i]));

    Img = new QLabel(this);
    Img->setObjectName("Img");
    Img->setGeometry(MsgImageLeft, MsgImageTop, MsgImageSize, MsgImageSize);
    Img->setAttribute(Qt::WA_TranslucentBackground);

    InfoLabel = new QLabel(this);
    InfoLabel->setObjectName("InfoLabel");
    InfoLabel->setFont(UiFont("Verdana", 11));
    InfoLabel->setTextFormat(Qt::PlainText);
    InfoLabel->setWordWrap(false);
    InfoLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    InfoLabel->setForegroundRole(QPalette::WindowText);
}

// The frame and caption the window system adds around the client area; none on a
// platform that draws no frames.
QSize TMsgBox::FrameExtra() const {
    const QWidget* reference = CentreOver ? CentreOver : QApplication::activeWindow();
    if (!reference || !reference->isVisible()) return {0, 0};
    return reference->frameGeometry().size() - reference->geometry().size();
}

int TMsgBox::Execute(const QString& MsgText, TMsgDlgType DlgType, const QString& CaptionTitle,
                     TMsgBut Buttons, bool MsgBeep) {
    QString text = MsgText;
    text.replace("\r\n", "\n");
    text = WithoutAccelerators(text);
    const QSize labelSize = QFontMetrics(InfoLabel->font()).size(0, text);
    const TMsgBoxLayout layout = LayoutMsgBox(DlgType, CaptionTitle.toStdString(), Buttons,
                                              labelSize.width(), labelSize.height());

    Img->setVisible(layout.imageVisible);
    Img->setPixmap(layout.iconIndex >= 0 ? IconImg[layout.iconIndex] : QPixmap());
    InfoLabel->setGeometry(layout.labelLeft, layout.labelTop, labelSize.width(),
                           labelSize.height());
    setWindowTitle(QString::fromStdString(layout.caption));
    InfoLabel->setText(text);
    outer_ = QSize(layout.outerWidth, layout.outerHeight);
    setFixedSize(outer_ - FrameExtra());

    ButCnt = 0;
    But.clear();
    for (const auto& spec : layout.buttons) {
        auto* button = new QPushButton(QString::fromStdString(spec.caption), this);
        button->setObjectName(QString::fromStdString(spec.name));
        button->setGeometry(spec.left, spec.top, spec.width, spec.height);
        button->setAutoDefault(false);
        const int result = spec.result;
        connect(button, &QPushButton::clicked, this, [this, result] { done(result); });
        But.push_back(button);
        ++ButCnt;
    }

    // Centred over the main window: the dialog belongs to the application, not to a form.
    if (QWidget* main = CentreOver ? CentreOver : QApplication::activeWindow()) {
        const QPoint centre = main->frameGeometry().center();
        move(centre.x() - outer_.width() / 2, centre.y() - outer_.height() / 2);
    }
    if (MsgBeep) QApplication::beep();
    const int result = ending_ ? mrCancel : exec();
    for (QPushButton* button : But) delete button;
    But.clear();
    return result;
}

void TMsgBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FormShow();
}

void TMsgBox::FormShow() {
    if (auto* first = findChild<QPushButton*>("But1")) first->setFocus();
}

// Closing the dialog without a button gives the same code as the close button.
void TMsgBox::reject() {
    done(mrCancel);
}

}  // namespace kordel
