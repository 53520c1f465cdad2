// The debug log window: one read-only text box and the log operations of TDebugLog.
#pragma once

#include <QPlainTextEdit>
#include <QWidget>

#include "DebugLog.h"

namespace kordel::qt {

class TDebug : public QWidget, public TDebugLog {
    Q_OBJECT
  public:
    explicit TDebug(QWidget* parent = nullptr);
    QPlainTextEdit* Memo;

    void MemoDblClick(QObject* Sender);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

}  // namespace kordel::qt
