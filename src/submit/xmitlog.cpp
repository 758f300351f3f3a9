#include "submit/xmitlog.h"

#include <QFile>
#include <QFont>
#include <QHBoxLayout>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QVBoxLayout>

namespace tarvik {

TfrmXmitLog::TfrmXmitLog(QWidget* parent)
    : QDialog(parent,
              Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::MSWindowsFixedSizeDialogHint) {
    // A fixed single-border window: a title, no title-bar buttons; "&Done" is the way out.
    setObjectName(QStringLiteral("frmXmitLog"));
    setWindowTitle(QStringLiteral("Relayo Log"));

    mmoXmitLog = new QPlainTextEdit(this);
    mmoXmitLog->setObjectName(QStringLiteral("mmoXmitLog"));
    // Long lines wrap, so that a whole report line is read without scrolling sideways.
    mmoXmitLog->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    mmoXmitLog->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    mmoXmitLog->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont f = mmoXmitLog->font();
    f.setPointSizeF((f.pointSizeF() > 0 ? f.pointSizeF() : 9.0) + 3.0);
    mmoXmitLog->setFont(f);

    btnOk = new QPushButton(QStringLiteral("&Done"), this);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(mmoXmitLog, 1);
    layout->addLayout(buttons);
    setFixedSize(640, 420);
}

void TfrmXmitLog::loadLog(const QString& path) {
    QFile f(path);
    if (!f.exists() || !f.open(QIODevice::ReadOnly)) {
        mmoXmitLog->setPlainText(QStringLiteral("No Status file..."));
        return;
    }
    QString text = QString::fromUtf8(f.readAll());
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (text.endsWith(QLatin1Char('\n'))) text.chop(1);  // the last line's break makes no empty line
    mmoXmitLog->setPlainText(text);
    showNewest();
}

void TfrmXmitLog::showNewest() {
    // The newest lines are at the end of the log: the window opens there.
    mmoXmitLog->moveCursor(QTextCursor::End);
    mmoXmitLog->ensureCursorVisible();
}

void TfrmXmitLog::showEvent(QShowEvent* event) {
    // Centred on the main window.
    if (QWidget* owner = parentWidget()) {
        const QRect frame = owner->window()->frameGeometry();
        move(frame.center() - rect().center());
    }
    QDialog::showEvent(event);
    showNewest();  // again once the text has its size on screen
}

}  // namespace tarvik
