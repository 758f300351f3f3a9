// Program entry: the application with its title and look, the main window, the message loop.
#include <QApplication>
#include <QTimer>

#include "app/appstyle.h"
#include "app/bidwiring.h"
#include "app/tmainform.h"
#include "store/recovery.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tarvik::setupApplication(app);
    tarvik::TMainForm form(QCoreApplication::applicationDirPath());
    tarvik::wireBidStore(form);
    form.show();
    // A recovery copy left by a run that ended without storing its bid is offered once the window shows.
    QTimer::singleShot(0, &form, [&form] {
        if (form.recovery) form.recovery->offerRestore();
    });
    return app.exec();
}
