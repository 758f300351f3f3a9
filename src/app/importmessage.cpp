#include "app/importmessage.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include "widgets/seams.h"
#include "widgets/toplevel.h"

namespace tarvik {

TImportMessage::TImportMessage(MainState& state, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint), state_(state) {
    setObjectName(QStringLiteral("ImportMessage"));
    setWindowTitle(QStringLiteral("Importing..."));
    setModal(false);
    QFont base = font();
    base.setPixelSize(11);
    setFont(base);
    setFixedSize(320, 110);

    Label1 = new QLabel(QStringLiteral("Importing Information, Please Wait..."), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont big = base;
    big.setPixelSize(13);
    Label1->setFont(big);
    Label1->setWordWrap(true);
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Label1->setGeometry(16, 22, 288, 44);
    Label1->installEventFilter(this);

    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    Label2->setGeometry(16, 74, 288, 18);
}

void TImportMessage::showNow() {
    if (QWidget* o = parentWidget()) {
        const QRect r = o->frameGeometry();
        move(r.center() - rect().center());
    }
    // The window system puts the window on screen a moment after it is shown: the text is painted once
    // it is there, so that the window is not blank while the work that follows holds the thread.
    showPainted(this);
}

void TImportMessage::FormDblClick() {
    if (messageBox(QStringLiteral("Abort Import?"), QStringLiteral("Shipment Data Import"),
                   PromptIcon::Question, Yes | No) == Yes)
        state_.FImportAbort = true;
}

void TImportMessage::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
    FormDblClick();
}

bool TImportMessage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Label1 && event->type() == QEvent::MouseButtonDblClick) {
        Label1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TImportMessage::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace tarvik
