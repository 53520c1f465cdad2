// Small widgets of the main window: the group panel with its orange caption bar, the
// LED, the port list that refreshes itself before it opens; and the fonts.
#pragma once

#include <QComboBox>
#include <QFrame>
#include <QWidget>
#include <functional>

namespace kordel {

// A font of the given family and pixel size; a family this system lacks is replaced by
// a metric-close one (DejaVu Sans for the Windows sans fonts, Liberation Mono for
// Courier New).
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
};

}  // namespace kordel
