// The log window "Relayo Log" (TfrmXmitLog): shows the transfer program's log, or "No Status file..."
// when there is none, opened at its newest (last) lines, long lines wrapped. The text can be edited in
// the window but is never written back.
#pragma once

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace tarvik {

class TfrmXmitLog : public QDialog {
    Q_OBJECT
  public:
    explicit TfrmXmitLog(QWidget* parent = nullptr);

    // Fills the memo with the lines of the file at path, or with "No Status file..." when it does not
    // exist (or cannot be read).
    void loadLog(const QString& path);

    QPlainTextEdit* mmoXmitLog = nullptr;
    QPushButton* btnOk = nullptr;  // "&Done"

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void showNewest();
};

}  // namespace tarvik
