#include "home/home.h"

#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

namespace tarvik {

namespace {

QString clean(const QString& folder) {
    QString f = QDir::cleanPath(folder);
    while (f.size() > 1 && f.endsWith(QLatin1Char('/')) && !f.endsWith(QLatin1String(":/"))) f.chop(1);
    return f;
}

QString absoluteIn(const QString& current, const QString& folder) {
    const QString f = QDir::fromNativeSeparators(folder);
    if (QDir::isAbsolutePath(f) || current.isEmpty()) return clean(f);
    return clean(QDir(current).absoluteFilePath(f));
}

// The entry of folder named `name` in any letter case that is a folder; empty when there is none.
QString subfolderNoCase(const QString& folder, const QString& name) {
    if (folder.isEmpty()) return QString();
    const QDir dir(folder);
    if (dir.exists(name) && QFileInfo(dir.filePath(name)).isDir()) return name;
    const QStringList entries = dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString& e : entries)
        if (e.compare(name, Qt::CaseInsensitive) == 0) return e;
    return QString();
}

}  // namespace

ProgramHome resolveHome(const HomeInputs& in) {
    if (!in.homeOption.isEmpty()) return {absoluteIn(in.currentFolder, in.homeOption), HomeSource::Option};
    if (!in.homeVariable.isEmpty())
        return {absoluteIn(in.currentFolder, in.homeVariable), HomeSource::Variable};
    if (!subfolderNoCase(in.programFolder, QStringLiteral("data")).isEmpty())
        return {clean(in.programFolder), HomeSource::BesideProgram};
    QString base;
    if (in.windows) {
        base = !in.localAppData.isEmpty()
                   ? QString(in.localAppData).replace(QLatin1Char('\\'), QLatin1Char('/'))
                   : in.userHome + QStringLiteral("/AppData/Local");
    } else {
        // A relative XDG_DATA_HOME is invalid and ignored, as the base directory rules say.
        const QString xdg = in.xdgDataHome;
        base = !xdg.isEmpty() && xdg.startsWith(QLatin1Char('/'))
                   ? xdg
                   : in.userHome + QStringLiteral("/.local/share");
    }
    return {clean(base + QStringLiteral("/Tarvik")), HomeSource::PerUser};
}

HomeInputs processHomeInputs(const QString& programFolder, const QString& homeOption) {
    const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    HomeInputs in;
    in.homeOption = homeOption;
    in.homeVariable = env.value(QLatin1String(kHomeVariable));
    in.programFolder = programFolder;
    in.currentFolder = QDir::currentPath();
    in.xdgDataHome = env.value(QStringLiteral("XDG_DATA_HOME"));
    in.userHome = QDir::homePath();
    in.localAppData = env.value(QStringLiteral("LOCALAPPDATA"));
#ifdef _WIN32
    in.windows = true;
#endif
    return in;
}

QString homeSourceText(HomeSource source) {
    switch (source) {
        case HomeSource::Option:
            return QStringLiteral("chosen with --home");
        case HomeSource::Variable:
            return QStringLiteral("chosen with the environment variable %1")
                .arg(QLatin1String(kHomeVariable));
        case HomeSource::BesideProgram:
            return QStringLiteral("the program's own folder, since a data folder is beside it");
        case HomeSource::PerUser:
            return QStringLiteral("your own folder for the program's files");
    }
    return QString();
}

QString dataFolderOf(const QString& home) {
    const QString found = subfolderNoCase(home, QStringLiteral("data"));
    return home + QLatin1Char('/') + (found.isEmpty() ? QStringLiteral("data") : found);
}

CommandLine parseCommandLine(const QStringList& arguments) {
    CommandLine c;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            c.help = true;
        } else if (a == QLatin1String("--version")) {
            c.version = true;
        } else if (a == QLatin1String("--home")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty() ||
                arguments[i + 1].startsWith(QLatin1Char('-'))) {
                c.error = QStringLiteral("--home needs a folder");
            } else {
                c.home = arguments[++i];
            }
        } else if (a.startsWith(QLatin1String("--home="))) {
            c.home = a.mid(7);
            if (c.home.isEmpty()) c.error = QStringLiteral("--home needs a folder");
        } else {
            c.rest << a;
        }
    }
    return c;
}

}  // namespace tarvik
