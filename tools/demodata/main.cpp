// demodata <csv folder> <target data folder>
// Writes the demonstration data folder: every table of the program, from the reference CSVs.
#include <QCoreApplication>
#include <cstdio>

#include "demodata/demofolder.h"
#include "tableaccess/tableaccess.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: demodata <csv folder> <target data folder>\n");
        return 2;
    }
    bool failed = false;
    ta::setErrorHandler([&failed](const QString& file, const QString& problem) {
        std::fprintf(stderr, "demodata: %s: %s\n", qPrintable(file), qPrintable(problem));
        failed = true;
    });
    ta::DataContext ctx = ta::OpenData();
    QString error;
    const bool ok = tarvik::demo::buildDemoFolder(args[1], args[2], &error);
    ta::CloseData(ctx);
    if (!ok) {
        std::fprintf(stderr, "demodata: %s\n", qPrintable(error));
        return 2;
    }
    return failed ? 2 : 0;
}
