// The set-up window of the transfer program ("relayo2 /S"): server URL, user, password and remote folder,
// a connection test, and saving to the settings file.
#pragma once

#include <QDialog>
#include <functional>

#include "relaysettings.h"

class QLabel;
class QLineEdit;
class QPushButton;

namespace relay {

class SetupWindow : public QDialog {
    Q_OBJECT
  public:
    using TestFn = std::function<bool(const Settings&, QString*)>;

    // Shows the settings of settingsPath (empty fields when there are none yet).
    explicit SetupWindow(const QString& settingsPath, QWidget* parent = nullptr);

    Settings settings() const;  // as the fields hold them
    void setTester(TestFn tester) { tester_ = std::move(tester); }

  private:
    void testClicked();
    void saveClicked();

    QString settingsPath_;
    TestFn tester_;
    QLineEdit* ebxServerUrl_ = nullptr;
    QLineEdit* ebxUser_ = nullptr;
    QLineEdit* ebxPassword_ = nullptr;
    QLineEdit* ebxRemoteFolder_ = nullptr;
    QPushButton* btnTestConnection_ = nullptr;
    QPushButton* btnSave_ = nullptr;
    QPushButton* btnCancel_ = nullptr;
    QLabel* lblResult_ = nullptr;
};

}  // namespace relay
