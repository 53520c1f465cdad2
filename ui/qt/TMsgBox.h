// The tool's own modal message dialog: an icon by message type, a caption, the text
// and a centred row of German buttons, returning the pressed button's result code.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <array>
#include <vector>

#include "MsgBoxLayout.h"
#include "Widgets.h"

namespace kordel::qt {

class TMsgBox : public QDialog {
    Q_OBJECT
  public:
    explicit TMsgBox(QWidget* owner = nullptr);

    int Execute(const QString& MsgText, TMsgDlgType DlgType, const QString& CaptionTitle,
                TMsgBut Buttons, bool MsgBeep);

    // While the program is ending, a dialog closes by itself as soon as it opens.
    void SetEnding(bool ending) { ending_ = ending; }

    // The window the dialog is centred over (the main window).
    QWidget* CentreOver = nullptr;

    std::array<QPixmap, 4> IconImg;
    QLabel* Img;
    TMnemonicLabel* InfoLabel;
    std::vector<QPushButton*> But;
    int ButCnt = 0;
    // The window's outer size set by the last call (frame and caption included).
    QSize OuterSize() const { return outer_; }

  protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

  private:
    void FormShow();

    QSize outer_;
    TOuterSize* outerSize_;
    bool ending_ = false;
};

}  // namespace kordel::qt
