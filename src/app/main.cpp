// Program entry: the application with its title and look, the main window, the message loop.
#include <QApplication>

#include "app/appstyle.h"
#include "app/bidwiring.h"
#include "app/tmainform.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    tarvik::setupApplication(app);
    tarvik::TMainForm form(QCoreApplication::applicationDirPath());
    tarvik::wireBidStore(form);
    form.show();
    return app.exec();
}
