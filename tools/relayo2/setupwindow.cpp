#include "setupwindow.h"

#include <QApplication>
#include <QDir>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "relaysender.h"

namespace relay {

SetupWindow::SetupWindow(const QString& settingsPath, QWidget* parent)
    : QDialog(parent), settingsPath_(settingsPath), tester_(&testConnection) {
    setObjectName(QStringLiteral("TRelaySetup"));
    setWindowTitle(QStringLiteral("Relayo2 Setup"));

    auto make = [this](const char* name, const QString& placeholder) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QLatin1String(name));
        e->setPlaceholderText(placeholder);
        e->setMinimumWidth(320);
        return e;
    };
    ebxServerUrl_ =
        make("ebxServerUrl", QStringLiteral("ftp://server, ftps://server, ftpes://server or sftp://server"));
    ebxUser_ = make("ebxUser", QString());
    ebxPassword_ = make("ebxPassword", QString());
    ebxPassword_->setEchoMode(QLineEdit::Password);
    ebxRemoteFolder_ = make("ebxRemoteFolder", QStringLiteral("folder on the server, e.g. incoming/bids"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Server &URL:"), ebxServerUrl_);
    form->addRow(QStringLiteral("&User:"), ebxUser_);
    form->addRow(QStringLiteral("&Password:"), ebxPassword_);
    form->addRow(QStringLiteral("&Remote folder:"), ebxRemoteFolder_);

    lblResult_ = new QLabel(this);
    lblResult_->setObjectName(QStringLiteral("lblResult"));
    lblResult_->setWordWrap(true);

    btnTestConnection_ = new QPushButton(QStringLiteral("&Test connection"), this);
    btnTestConnection_->setObjectName(QStringLiteral("btnTestConnection"));
    btnSave_ = new QPushButton(QStringLiteral("&Save"), this);
    btnSave_->setObjectName(QStringLiteral("btnSave"));
    btnSave_->setDefault(true);
    btnCancel_ = new QPushButton(QStringLiteral("&Cancel"), this);
    btnCancel_->setObjectName(QStringLiteral("btnCancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnTestConnection_);
    buttons->addStretch(1);
    buttons->addWidget(btnSave_);
    buttons->addWidget(btnCancel_);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(lblResult_);
    layout->addLayout(buttons);

    connect(btnTestConnection_, &QPushButton::clicked, this, &SetupWindow::testClicked);
    connect(btnSave_, &QPushButton::clicked, this, &SetupWindow::saveClicked);
    connect(btnCancel_, &QPushButton::clicked, this, &QDialog::reject);

    Settings s;
    QString problem;
    if (loadSettings(settingsPath_, s, &problem)) {
        ebxServerUrl_->setText(s.url);
        ebxUser_->setText(s.user);
        ebxPassword_->setText(s.password);
        ebxRemoteFolder_->setText(s.remoteFolder);
    } else {
        lblResult_->setText(QStringLiteral("No settings yet: they will be saved to %1.")
                                .arg(QDir::toNativeSeparators(settingsPath_)));
    }
}

Settings SetupWindow::settings() const {
    return Settings{ebxServerUrl_->text().trimmed(), ebxUser_->text().trimmed(), ebxPassword_->text(),
                    ebxRemoteFolder_->text().trimmed()};
}

void SetupWindow::testClicked() {
    lblResult_->setText(QStringLiteral("Connecting..."));
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QString message;
    tester_(settings(), &message);
    QApplication::restoreOverrideCursor();
    lblResult_->setText(message);
}

void SetupWindow::saveClicked() {
    const Settings s = settings();
    const QString problem = settingsProblem(s);
    if (!problem.isEmpty()) {
        lblResult_->setText(problem + QStringLiteral(" Nothing was saved."));
        ebxServerUrl_->setFocus();
        return;
    }
    QString error;
    if (!saveSettings(settingsPath_, s, &error)) {
        lblResult_->setText(error);
        return;
    }
    accept();
}

}  // namespace relay
