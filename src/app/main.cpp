// Program entry: the command line, the program's home (with the first-start window when it has no
// complete data folder yet), the application with its title and look, the main window, the message loop.
#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>

#include "app/appstyle.h"
#include "app/bidwiring.h"
#include "app/firststart.h"
#include "app/tmainform.h"
#include "home/home.h"
#include "store/recovery.h"
#include "tarvikversion.h"

namespace {

QStringList argumentsOf(int argc, char** argv) {
    QStringList args;
    for (int i = 1; i < argc; ++i) args << QString::fromLocal8Bit(argv[i]);
    return args;
}

void printHelp(const tarvik::ProgramHome& home) {
    std::printf(
        "Usage: tarvik [--home DIR] [Qt options]\n"
        "Tarvik %s, the Incentive Model: prepares a freight-pricing bid and submits it.\n"
        "\n"
        "Options:\n"
        "  --home DIR   the program's home: the folder that holds the data folder \"data\",\n"
        "               the Send and Recv folders, relayo2.ini and Relayo2.log\n"
        "  --version    print the version and exit\n"
        "  -h, --help   print this help and exit\n"
        "Qt's own options such as -platform and -style are accepted as well.\n"
        "\n"
        "The home is the first of: --home DIR; the environment variable %s; the program's own\n"
        "folder when a folder named data is beside it (the portable layout); $XDG_DATA_HOME/Tarvik,\n"
        "normally ~/.local/share/Tarvik. A home without a data folder gets one at the first start:\n"
        "a copy of an existing data folder, or the demonstration data.\n"
        "\n"
        "The home now: %s (%s)\n",
        TARVIK_VERSION, tarvik::kHomeVariable, qPrintable(QDir::toNativeSeparators(home.folder)),
        qPrintable(tarvik::homeSourceText(home.source)));
}

}  // namespace

int main(int argc, char** argv) {
    // --help and --version need no window system.
    const tarvik::CommandLine early = tarvik::parseCommandLine(argumentsOf(argc, argv));
    if (early.version) {
        std::printf("tarvik %s\n", TARVIK_VERSION);
        return 0;
    }
    if (early.help) {
        QCoreApplication core(argc, argv);
        printHelp(tarvik::resolveHome(
            tarvik::processHomeInputs(QCoreApplication::applicationDirPath(), early.home)));
        return 0;
    }

    QApplication app(argc, argv);  // takes Qt's own options out of the arguments
    tarvik::setupApplication(app);
    const tarvik::CommandLine line = tarvik::parseCommandLine(QCoreApplication::arguments().mid(1));
    QString problem = line.error;
    if (problem.isEmpty() && !line.rest.isEmpty())
        problem = QStringLiteral("unknown argument %1").arg(line.rest.first());
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "tarvik: %s\nTry 'tarvik --help'.\n", qPrintable(problem));
        return 2;
    }

    const QString programFiles = QCoreApplication::applicationDirPath();
    const tarvik::ProgramHome home = tarvik::resolveHome(tarvik::processHomeInputs(programFiles, line.home));
    if (!tarvik::PrepareHome(home, tarvik::findDemoCsvFolder(programFiles))) return 0;

    // The transfer program started from here works in the same home, and writes its log, which the
    // status shows from the current folder, there.
    qputenv(tarvik::kHomeVariable, QFile::encodeName(home.folder));
    QDir::setCurrent(home.folder);

    tarvik::TMainForm form(home.folder);
    form.state().FExecutableFolder = programFiles;
    tarvik::wireBidStore(form);
    form.show();
    // A recovery copy left by a run that ended without storing its bid is offered once the window shows.
    QTimer::singleShot(0, &form, [&form] {
        if (form.recovery) form.recovery->offerRestore();
    });
    return app.exec();
}
