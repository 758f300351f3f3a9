// "&Copy Line": repeats the current shipment line a number of times into the free rows below it.
#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace tarvik {

class ShipmentPage;

// The most lines the shipment grid is allowed to reach by copying.
constexpr int kMaxCopyLines = 65535;

// "Copy Shipment Entry": how many copies of the current line.
class TCopyForm : public QDialog {
    Q_OBJECT
  public:
    explicit TCopyForm(QWidget* owner = nullptr);

    QLabel* Label1 = nullptr;  // "This will copy Shipment Entry: 'Ship #n'."
    QLabel* Label2 = nullptr;  // "How many copies?"
    QLineEdit* ebxCopyTimes = nullptr;
    QPushButton* btnOk = nullptr;
    QPushButton* btnCancel = nullptr;
};

// The number of copies chosen in the dialog: the whole number in ebxCopyTimes on OK, 0 on Cancel or
// when the text is not a whole number.
int CopyTimes(const TCopyForm& form, int result);

// The handler of btnCopyLine.
void btnCopyLineClick(ShipmentPage& page);

}  // namespace tarvik
