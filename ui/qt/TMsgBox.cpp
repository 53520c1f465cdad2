#include "TMsgBox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QScreen>

#include "Widgets.h"

// The icons are compiled into this library; a static library must register them itself.
static void InitIconResources() {
    Q_INIT_RESOURCE(icons);
}

namespace kordel::qt {

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

    InfoLabel = new TMnemonicLabel(this);
    InfoLabel->setObjectName("InfoLabel");
    InfoLabel->setFont(UiFont("Verdana", 11));
    InfoLabel->setTextFormat(Qt::PlainText);
    InfoLabel->setWordWrap(false);
    InfoLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    InfoLabel->setForegroundRole(QPalette::WindowText);
    outerSize_ = new TOuterSize(this, true);
}

int TMsgBox::Execute(const QString& MsgText, TMsgDlgType DlgType, const QString& CaptionTitle,
                     TMsgBut Buttons, bool MsgBeep) {
    QString text = MsgText;
    text.replace("\r\n", "\n");
    // "&x" shows x underlined; the size is that of the text as shown.
    const QSize labelSize = InfoLabel->TextSize(text);
    const TMsgBoxLayout layout = LayoutMsgBox(DlgType, CaptionTitle.toStdString(), Buttons,
                                              labelSize.width(), labelSize.height());

    Img->setVisible(layout.imageVisible);
    Img->setPixmap(layout.iconIndex >= 0 ? IconImg[layout.iconIndex] : QPixmap());
    InfoLabel->setGeometry(layout.labelLeft, layout.labelTop, labelSize.width(),
                           labelSize.height());
    setWindowTitle(QString::fromStdString(layout.caption));
    InfoLabel->setText(text);
    outer_ = QSize(layout.outerWidth, layout.outerHeight);
    // Until the dialog has had a frame of its own, the main window's stands for it.
    outerSize_->Set(outer_, CentreOver ? FrameMargins(CentreOver) : QMargins());

    ButCnt = 0;
    But.clear();
    for (const auto& spec : layout.buttons) {
        auto* button = new TButton(QString::fromStdString(spec.caption), this);
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
        MoveFrameTo(this, QPoint(centre.x() - outer_.width() / 2, centre.y() - outer_.height() / 2),
                    outerSize_->LastFrame());
    }
    if (MsgBeep) QApplication::beep();
    const int result = ending_ ? mrCancel : exec();
    for (QPushButton* button : But) delete button;
    But.clear();
    return result;
}

void TMsgBox::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    // A tool window with a caption and a border only: no system menu, no caption buttons.
    SetCaptionOnlyDecorations(this);
    FormShow();
}

void TMsgBox::FormShow() {
    if (auto* first = findChild<QPushButton*>("But1")) first->setFocus();
}

// Closing the dialog without a button gives the same code as the close button.
void TMsgBox::reject() {
    done(mrCancel);
}

}  // namespace kordel::qt
