#include "app/firststart.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <functional>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include "demodata/demofolder.h"
#include "store/datacheck.h"
#include "tableaccess/tableaccess.h"
#include "tarvikversion.h"
#include "widgets/seams.h"

namespace tarvik {

namespace {

const QString kWorkName = QStringLiteral("data.new");

// Data and size of the file on disk before the call returns.
bool syncFile(QFile& f) {
    if (!f.flush()) return false;
#ifdef _WIN32
    return _commit(f.handle()) == 0;
#else
    return ::fsync(f.handle()) == 0;
#endif
}

// A rename in folder reaches the disk.
void syncFolder(const QString& folder) {
#ifndef _WIN32
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
#else
    Q_UNUSED(folder);
#endif
}

bool copyFileDurably(const QString& from, const QString& to, QString* error) {
    QFile in(from);
    QFile out(to);
    if (!in.open(QIODevice::ReadOnly)) {
        *error =
            QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(from), in.errorString());
        return false;
    }
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error =
            QStringLiteral("%1 cannot be written: %2").arg(QDir::toNativeSeparators(to), out.errorString());
        return false;
    }
    QByteArray buffer;
    while (!(buffer = in.read(1 << 20)).isEmpty()) {
        if (out.write(buffer) != buffer.size()) {
            *error = QStringLiteral("%1 cannot be written: %2")
                         .arg(QDir::toNativeSeparators(to), out.errorString());
            return false;
        }
    }
    if (in.error() != QFile::NoError) {
        *error =
            QStringLiteral("%1 cannot be read: %2").arg(QDir::toNativeSeparators(from), in.errorString());
        return false;
    }
    if (!syncFile(out)) {
        *error = QStringLiteral("%1 cannot be written to the disk").arg(QDir::toNativeSeparators(to));
        return false;
    }
    return true;
}

// The first free name data.incomplete, data.incomplete-2, ... in home.
QString setAsideName(const QString& home) {
    const QString base = home + QStringLiteral("/data.incomplete");
    if (!QFileInfo::exists(base)) return base;
    for (int n = 2;; ++n) {
        const QString name = base + QLatin1Char('-') + QString::number(n);
        if (!QFileInfo::exists(name)) return name;
    }
}

// Fills a work folder with fill(), checks it is complete, sets an existing data folder aside and renames
// the work folder to data.
bool placeDataFolder(const QString& home, const std::function<bool(const QString&, QString*)>& fill,
                     QString* setAside, QString* error) {
    QString ignored;
    if (!error) error = &ignored;
    if (setAside) setAside->clear();
    if (!QDir().mkpath(home)) {
        *error = QStringLiteral("The folder %1 cannot be created.").arg(QDir::toNativeSeparators(home));
        return false;
    }
    const QString work = home + QLatin1Char('/') + kWorkName;
    QDir(work).removeRecursively();  // what a start cut short left behind
    if (!QDir().mkpath(work)) {
        *error = QStringLiteral("The folder %1 cannot be created.").arg(QDir::toNativeSeparators(work));
        return false;
    }
    auto fail = [&](const QString& why) {
        QDir(work).removeRecursively();
        *error = why;
        return false;
    };
    QString why;
    if (!fill(work, &why)) return fail(why);
    const QStringList missing = missingTables(work);
    if (!missing.isEmpty())
        return fail(QStringLiteral("The new data folder lacks %1.").arg(missing.join(QStringLiteral(", "))));

    const QString current = dataFolderOf(home);
    QString aside;
    if (QFileInfo::exists(current)) {
        aside = setAsideName(home);
        if (!QDir().rename(current, aside))
            return fail(QStringLiteral("The incomplete data folder %1 cannot be renamed to %2.")
                            .arg(QDir::toNativeSeparators(current), QDir::toNativeSeparators(aside)));
    }
    const QString target = home + QStringLiteral("/data");
    if (!QDir().rename(work, target)) {
        if (!aside.isEmpty()) QDir().rename(aside, current);
        return fail(QStringLiteral("The data folder %1 cannot be put in place.")
                        .arg(QDir::toNativeSeparators(target)));
    }
    syncFolder(home);
    if (setAside) *setAside = aside;
    return true;
}

QString listed(const QStringList& names) {
    return names.join(QStringLiteral(", "));
}

}  // namespace

DataFolderReport inspectDataFolder(const QString& home) {
    DataFolderReport r;
    r.folder = dataFolderOf(home);
    r.exists = QFileInfo(r.folder).isDir();
    r.missing = missingTables(r.exists ? r.folder : QString());
    return r;
}

bool placeCopiedDataFolder(const QString& home, const QString& source, QString* setAside, QString* error) {
    return placeDataFolder(
        home,
        [&source](const QString& work, QString* why) {
            // Everything the folder holds comes along, its subfolders too (the recovery copies of bids
            // typed there live in Recover).
            const QDir from(source);
            QDirIterator it(source, QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString file = it.next();
                const QString relative = from.relativeFilePath(file);
                const QString target = work + QLatin1Char('/') + relative;
                if (!QDir().mkpath(QFileInfo(target).absolutePath())) {
                    *why = QStringLiteral("The folder %1 cannot be created.")
                               .arg(QDir::toNativeSeparators(QFileInfo(target).absolutePath()));
                    return false;
                }
                if (!copyFileDurably(file, target, why)) return false;
            }
            return true;
        },
        setAside, error);
}

bool placeDemoDataFolder(const QString& home, const QString& csvFolder, QString* setAside, QString* error) {
    return placeDataFolder(
        home,
        [&csvFolder](const QString& work, QString* why) {
            // The builder reports table errors through the table layer: collect the first one.
            QString reported;
            const ta::ErrorHandler previous =
                ta::setErrorHandler([&reported](const QString& file, const QString& problem) {
                    if (reported.isEmpty())
                        reported = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(file), problem);
                });
            const ta::DataContext ctx = ta::OpenData();
            QString builderError;
            const bool built = demo::buildDemoFolder(csvFolder, work, &builderError);
            ta::CloseData(ctx);
            ta::setErrorHandler(previous);
            if (!built || !reported.isEmpty()) {
                *why = QStringLiteral("The demonstration data could not be created: %1")
                           .arg(!builderError.isEmpty() ? builderError : reported);
                return false;
            }
            return true;
        },
        setAside, error);
}

QString findDemoCsvFolder(const QString& programFolder) {
    const QString candidates[] = {programFolder + QStringLiteral("/../share/tarvik/demo"),
                                  programFolder + QStringLiteral("/demo")};
    for (const QString& c : candidates)
        if (QFileInfo::exists(c + QStringLiteral("/ca_fsa.csv"))) return QDir::cleanPath(c);
    return QString();
}

TFirstStartForm::TFirstStartForm(const ProgramHome& home, const QString& demoCsvFolder, QWidget* parent)
    : QDialog(parent), home_(home), demoCsvFolder_(demoCsvFolder) {
    setObjectName(QStringLiteral("FirstStartForm"));
    setWindowTitle(QStringLiteral("Tarvik v" TARVIK_VERSION " - Data Folder"));

    const DataFolderReport report = inspectDataFolder(home.folder);
    const QString folder = QDir::toNativeSeparators(home.folder + QStringLiteral("/data"));
    lblSituation = new QLabel(this);
    lblSituation->setObjectName(QStringLiteral("lblSituation"));
    lblSituation->setWordWrap(true);
    lblSituation->setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (!report.exists) {
        lblSituation->setText(
            QStringLiteral("Tarvik has no data folder yet.\n\nOpen the data folder you work with on another "
                           "computer (a copy "
                           "of it is made here), or create the demonstration data to try the program."));
    } else {
        lblSituation->setText(
            QStringLiteral("The data folder %1 lacks tables the program needs: %2.\n\nOpen a complete data "
                           "folder (a copy of it is made here) or create the demonstration data. The "
                           "incomplete folder is kept under the name data.incomplete.")
                .arg(QDir::toNativeSeparators(report.folder), listed(report.missing)));
    }
    lblHome = new QLabel(this);
    lblHome->setObjectName(QStringLiteral("lblHome"));
    lblHome->setWordWrap(true);
    lblHome->setTextInteractionFlags(Qt::TextSelectableByMouse);
    lblHome->setText(QStringLiteral("The data folder will be:\n%1\n\nIt lives in Tarvik's home, %2 (%3), "
                                    "together with the Send and Recv folders and the transfer program's "
                                    "settings and log.")
                         .arg(folder, QDir::toNativeSeparators(home.folder), homeSourceText(home.source)));

    btnOpenFolder = new QPushButton(QStringLiteral("&Open a Data Folder..."), this);
    btnOpenFolder->setObjectName(QStringLiteral("btnOpenFolder"));
    btnCreateDemo = new QPushButton(QStringLiteral("&Create the Demonstration Data"), this);
    btnCreateDemo->setObjectName(QStringLiteral("btnCreateDemo"));
    btnQuit = new QPushButton(QStringLiteral("&Quit"), this);
    btnQuit->setObjectName(QStringLiteral("btnQuit"));
    btnOpenFolder->setDefault(true);
    for (QPushButton* b : {btnOpenFolder, btnCreateDemo, btnQuit}) b->setAutoDefault(false);
    btnOpenFolder->setAutoDefault(true);
    connect(btnOpenFolder, &QPushButton::clicked, this, &TFirstStartForm::btnOpenFolderClick);
    connect(btnCreateDemo, &QPushButton::clicked, this, &TFirstStartForm::btnCreateDemoClick);
    connect(btnQuit, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(btnOpenFolder);
    buttons->addWidget(btnCreateDemo);
    buttons->addStretch(1);
    buttons->addWidget(btnQuit);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(lblSituation);
    layout->addSpacing(8);
    layout->addWidget(lblHome);
    layout->addSpacing(12);
    layout->addLayout(buttons);
    setMinimumWidth(560);
}

void TFirstStartForm::btnOpenFolderClick() {
    const QString caption = QStringLiteral("Open a Data Folder");
    const QString chosen = FileChooser::current().chooseFolder(
        this, FileRequest{caption, QDir::homePath(), QString(), QString()});
    if (chosen.isEmpty()) return;
    const QStringList missing = missingTables(chosen);
    if (!missing.isEmpty()) {
        messageBox(QStringLiteral("The folder %1 is not a complete data folder: it lacks %2.")
                       .arg(QDir::toNativeSeparators(chosen), listed(missing)),
                   caption, PromptIcon::Error, Ok);
        return;
    }
    QString aside, error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = placeCopiedDataFolder(home_.folder, chosen, &aside, &error);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        messageBox(error, caption, PromptIcon::Error, Ok);
        return;
    }
    placed(aside);
}

void TFirstStartForm::btnCreateDemoClick() {
    const QString caption = QStringLiteral("Create the Demonstration Data");
    if (demoCsvFolder_.isEmpty()) {
        messageBox(QStringLiteral("The demonstration files are not installed with this program."), caption,
                   PromptIcon::Error, Ok);
        return;
    }
    QString aside, error;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const bool ok = placeDemoDataFolder(home_.folder, demoCsvFolder_, &aside, &error);
    QApplication::restoreOverrideCursor();
    if (!ok) {
        messageBox(error, caption, PromptIcon::Error, Ok);
        return;
    }
    placed(aside);
}

void TFirstStartForm::placed(const QString& setAside) {
    if (!setAside.isEmpty())
        messageBox(QStringLiteral("The incomplete data folder was kept as %1.")
                       .arg(QDir::toNativeSeparators(setAside)),
                   windowTitle(), PromptIcon::Information, Ok);
    accept();
}

bool PrepareHome(const ProgramHome& home, const QString& demoCsvFolder) {
    if (inspectDataFolder(home.folder).complete()) return true;
    TFirstStartForm form(home, demoCsvFolder);
    if (form.exec() != QDialog::Accepted) return false;
    return inspectDataFolder(home.folder).complete();
}

}  // namespace tarvik
