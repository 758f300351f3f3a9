#include "widgets/toplevel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <QThread>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace tarvik {

namespace {

// Room of the title bar beside the title: the window icon and the minimise, maximise and close
// buttons with their spacing.
constexpr int kTitleBarRoom = 4 * 26 + 24;

bool wantsTitle(const QWidget* w) {
    if (!w->isWindow()) return false;
    const Qt::WindowType type = w->windowType();
    if (type != Qt::Window && type != Qt::Dialog) return false;
    if (w->windowFlags() & Qt::FramelessWindowHint) return false;
    return !w->windowTitle().isEmpty();
}

void fitTitle(QWidget* w) {
    const int needed = titleWidthNeeded(w->windowTitle());
    if (auto* box = qobject_cast<QMessageBox*>(w)) {
        // A message box sizes itself from its layout when shown: a spacer as wide as the title keeps
        // it from becoming narrower. The spacer is made once and widened when the title changes.
        auto* grid = qobject_cast<QGridLayout*>(box->layout());
        if (!grid) return;
        QSpacerItem* spacer = nullptr;
        const QVariant stored = box->property("tarvikTitleSpacer");
        if (stored.isValid()) spacer = static_cast<QSpacerItem*>(stored.value<void*>());
        const int inner = needed - grid->contentsMargins().left() - grid->contentsMargins().right();
        if (!spacer) {
            spacer = new QSpacerItem(inner, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
            grid->addItem(spacer, grid->rowCount(), 0, 1, std::max(1, grid->columnCount()));
            box->setProperty("tarvikTitleSpacer", QVariant::fromValue<void*>(spacer));
        } else {
            spacer->changeSize(inner, 0, QSizePolicy::Minimum, QSizePolicy::Minimum);
            grid->invalidate();
        }
        return;
    }
    if (w->width() >= needed) return;
    if (w->minimumWidth() == w->maximumWidth()) {
        w->setFixedWidth(needed);
    } else {
        if (w->maximumWidth() < needed) w->setMaximumWidth(needed);
        w->setMinimumWidth(std::max(w->minimumWidth(), needed));
        w->resize(needed, w->height());
    }
}

class TitleFitter : public QObject {
  public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType()) {
            auto* w = static_cast<QWidget*>(watched);
            if (wantsTitle(w)) fitTitle(w);
        }
        return false;
    }
};

}  // namespace

int titleWidthNeeded(const QString& title) {
    QFont font = QApplication::font();
    font.setBold(true);
    const QFontMetrics fm(font);
    // A tenth more than the application's font measures: the window manager's title font may be larger.
    return fm.horizontalAdvance(title) * 11 / 10 + kTitleBarRoom;
}

void installTitleFitting() {
    static TitleFitter* fitter = nullptr;
    if (fitter || !qApp) return;
    fitter = new TitleFitter(qApp);
    qApp->installEventFilter(fitter);
}

bool showPainted(QWidget* window, int limitMs) {
    if (!window) return false;
    window->show();
    window->raise();
    QElapsedTimer clock;
    clock.start();
    bool exposed = false;
    for (;;) {
        const QWindow* handle = window->windowHandle();
        exposed = handle && handle->isExposed();
        if (exposed || clock.elapsed() >= limitMs) break;
        QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        QThread::msleep(5);
    }
    // Painted now, and the paint handed to the window system, before the caller's work begins.
    window->repaint();
    QApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    return exposed;
}

}  // namespace tarvik
