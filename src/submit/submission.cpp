#include "submit/submission.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "store/bidtables.h"
#include "submit/completeness.h"
#include "submit/xmitlog.h"
#include "tableaccess/tableaccess.h"
#include "widgets/seams.h"

namespace tarvik {

namespace {

const QString kFixAndRetry = QStringLiteral("Please fix and try again...");

// The bid's next record from the top (fromNext false) or after the current one. A record marked deleted
// is not part of any bid and is passed over.
// The ID is compared as the table stores it.
bool locateBidRecord(int table, const QString& bidId, bool fromNext) {
    const QString stored = valueAsStored(table, QStringLiteral("local_bid"), bidId);
    bool found = ta::LocateByField(table, QStringLiteral("local_bid"), fromNext, stored);
    while (found && ta::d4deleted(table) != 0)
        found = ta::LocateByField(table, QStringLiteral("local_bid"), true, stored);
    return found;
}

// Every file of folder whose name equals one of names without regard to case.
QStringList filesNamedLike(const QString& folder, const QStringList& names) {
    QStringList found;
    const QStringList entries = QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString& e : entries)
        for (const QString& n : names)
            if (e.compare(n, Qt::CaseInsensitive) == 0) found << e;
    return found;
}

bool removeFile(const QString& path) {
    if (!QFile::exists(path)) return true;
    QFile::setPermissions(path, QFile::permissions(path) | QFile::WriteOwner | QFile::WriteUser);
    return QFile::remove(path);
}

void showError(const QString& text) {
    messageBox(text, QStringLiteral("ERROR"), PromptIcon::Error, Ok);
}

}  // namespace

bool BidIdIsSafe(const QString& id) {
    const QString t = id.trimmed();
    if (t.isEmpty()) return false;
    for (const QChar c : t) {
        const QString one(c);
        if (!ta::IsAlpha(one) && !ta::IsNumber(one)) return false;
    }
    return true;
}

Submission::Submission(MainState& state, QWidget* mainWindow, SubmitHooks hooks)
    : state_(state), mainWindow_(mainWindow), hooks_(std::move(hooks)) {}

QLineEdit* Submission::edit(const char* name) const {
    return mainWindow_ ? mainWindow_->findChild<QLineEdit*>(QLatin1String(name)) : nullptr;
}

QString Submission::bidIdText() const {
    QLineEdit* e = edit("ebxLocalBidID");
    return e ? e->text() : QString();
}

QString Submission::sendFolder() const {
    return state_.FProgramFolder + QStringLiteral("/Send");
}
QString Submission::recvFolder() const {
    return state_.FProgramFolder + QStringLiteral("/Recv");
}

QString Submission::transferProgram() const {
    const QString folder =
        state_.FExecutableFolder.isEmpty() ? state_.FProgramFolder : state_.FExecutableFolder;
#ifdef _WIN32
    return folder + QStringLiteral("/relayo2.exe");
#else
    return folder + QStringLiteral("/relayo2");
#endif
}

QString Submission::statusLogName() {
    return QStringLiteral("Relayo2.log");
}

void Submission::SubmitBid() {
    QString message;
    const bool complete = hooks_.CheckBidComplete ? hooks_.CheckBidComplete(message)
                                                  : CheckBidComplete(state_, mainWindow_, message);
    if (!complete) {
        messageBox(message + QStringLiteral("\r\n") + kFixAndRetry, QStringLiteral("ENTRY ERROR"),
                   PromptIcon::Error, Ok);
        return;
    }
    // The ID names files in the send folder: anything but letters and digits could reach outside it.
    const QString id = bidIdText().trimmed();
    if (!BidIdIsSafe(id)) {
        messageBox(QStringLiteral(
                       "The Bid ID \"%1\" may hold only letters and digits; this bid cannot be submitted.")
                           .arg(id) +
                       QStringLiteral("\r\n") + kFixAndRetry,
                   QStringLiteral("ENTRY ERROR"), PromptIcon::Error, Ok);
        return;
    }

    QLineEdit* status = edit("ebxLocalStatus");
    QLineEdit* date = edit("ebxSubmitDate");
    const QString statusBefore = status ? status->text() : QString();
    const QString dateBefore = date ? date->text() : QString();
    if (status) status->setText(QStringLiteral("Submitted"));
    if (date) date->setText(dateToText(Clock::current().now().date()));

    // A bid that could not be stored is not sent: the send tables would carry an older copy, or none. It
    // stays on screen as it was before, so that nothing typed is lost.
    if (hooks_.StoreBid && !hooks_.StoreBid()) {
        if (status) status->setText(statusBefore);
        if (date) date->setText(dateBefore);
        showError(
            QStringLiteral("Bid %1 was not stored, so it was not submitted. It stays on screen.").arg(id));
        return;
    }
    const bool written = WriteSendFiles();

    QString why;
    const bool started = Launcher::current().start(transferProgram(), QStringList(), QString(), &why);
    if (!started)
        messageBox(QStringLiteral("Could not start File Transfer Program!"), QStringLiteral("ERROR"),
                   PromptIcon::Error, Ok);
    else if (written)
        // The transfer program works on its own: the user learns that the bid is in its hands, and where
        // to see how the sending went.
        messageDlg(QStringLiteral("Bid %1 was handed to the File Transfer Program for sending.\r\n"
                                  "\"View Status\" shows how the sending goes.")
                       .arg(id),
                   DialogKind::Information, Ok);

    // A bid whose send tables could not be written (its header missing from Bids because storing failed,
    // or the send folder not writable) stays in the window: clearing it would lose a bid that is neither
    // sent nor, perhaps, stored. The error box has said why.
    if (written && hooks_.ClearBidWindow) hooks_.ClearBidWindow();
}

bool Submission::WriteSendFiles() {
    const QString idText = bidIdText();
    const QString id = idText.trimmed();
    if (!BidIdIsSafe(id)) return false;
    const ta::DataContext ctx = state_.DataContext;

    const int bids = ta::mOpen(ctx, state_.tablePath(QStringLiteral("Bids")));
    if (!bids) return false;  // reported by the table layer
    if (!locateBidRecord(bids, idText, false)) {
        ta::d4close(bids);
        showError(
            QStringLiteral("Bid %1 is not in the bid table; its send tables were not written.").arg(id));
        return false;
    }

    QDir program(state_.FProgramFolder);
    program.mkpath(QStringLiteral("Send"));
    program.mkpath(QStringLiteral("Recv"));

    // The tables are made in a work folder inside Send and moved into Send only when complete: the
    // transfer program takes only the files of Send itself, so it never sends a half-written table, and
    // a run still sending an earlier submission keeps the files it opened.
    const QString work = sendFolder() + QStringLiteral("/~writing");
    QDir(work).removeRecursively();
    bool ok = QDir().mkpath(work);
    const QString headName = id + QStringLiteral("Head");
    const QString tailName = id + QStringLiteral("Tail");

    // Head: the bid's header record.
    if (ok) ok = ta::CopyStru(bids, work + QLatin1Char('/') + headName + QStringLiteral(".dbf")) == 0;
    if (ok) {
        const int head = ta::mOpen(ctx, work + QLatin1Char('/') + headName + QStringLiteral(".dbf"));
        ok = head != 0 && ta::d4recCountDo(head) == 0 && ta::AppendRecord(bids, head) == 0;
        if (head) ta::d4close(head);
    }
    ta::d4close(bids);

    // Tail: every detail record of the bid, in table order.
    if (ok) {
        const int tail = ta::mOpen(ctx, state_.tablePath(QStringLiteral("BidTail")));
        ok =
            tail != 0 && ta::CopyStru(tail, work + QLatin1Char('/') + tailName + QStringLiteral(".dbf")) == 0;
        if (ok && locateBidRecord(tail, idText, false)) {
            const int target = ta::mOpen(ctx, work + QLatin1Char('/') + tailName + QStringLiteral(".dbf"));
            ok = target != 0 && ta::d4recCountDo(target) == 0;
            if (ok) {
                do {
                    if (ta::AppendRecord(tail, target) != 0) ok = false;
                } while (ok && locateBidRecord(tail, idText, true));
            }
            if (target) ta::d4close(target);
        }
        if (tail) ta::d4close(tail);
    }

    // Into Send, replacing every earlier file of these tables (whatever its letter case), memo files
    // before tables.
    if (ok) {
        QStringList made = QDir(work).entryList(QDir::Files);
        std::sort(made.begin(), made.end(), [](const QString& a, const QString& b) {
            const bool aTable = a.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive);
            const bool bTable = b.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive);
            return aTable != bTable ? bTable : a < b;
        });
        QStringList earlier;
        for (const QString& base : {headName, tailName})
            for (const char* ext : {".dbf", ".fpt", ".cdx"}) earlier << base + QLatin1String(ext);
        for (const QString& old : filesNamedLike(sendFolder(), earlier))
            if (!made.contains(old) && !removeFile(sendFolder() + QLatin1Char('/') + old)) ok = false;
        for (const QString& name : made) {
            if (!ok) break;
            std::error_code ec;
            std::filesystem::rename(
                std::filesystem::path((work + QLatin1Char('/') + name).toStdU16String()),
                std::filesystem::path((sendFolder() + QLatin1Char('/') + name).toStdU16String()), ec);
            if (ec) ok = false;
        }
    }
    QDir(work).removeRecursively();
    if (!ok)
        showError(QStringLiteral("The send tables of bid %1 could not be written to %2.")
                      .arg(id, QDir::toNativeSeparators(sendFolder())));
    return ok;
}

void Submission::mnuFTPSetupClick() {
    QString why;
    if (!Launcher::current().start(transferProgram(), QStringList{QStringLiteral("/S")}, QString(), &why))
        messageBox(QStringLiteral("Problem Setting up File Transfer Program!"), QStringLiteral("ERROR"),
                   PromptIcon::Error, Ok);
}

QStringList Submission::waitingInSend() const {
    QStringList names;
    const QFileInfoList entries = QDir(sendFolder()).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& fi : entries) {
        const QString ext = fi.suffix().toLower();
        if (ext == QLatin1String("dbf") || ext == QLatin1String("fpt")) names << fi.fileName();
    }
    return names;
}

void Submission::mnuUpdateStatusClick() {
    const QStringList waiting = waitingInSend();
    if (waiting.isEmpty()) {
        messageDlg(QStringLiteral("No bid is waiting in the send folder: every submitted bid has been sent."),
                   DialogKind::Information, Ok);
        return;
    }
    QString why;
    if (!Launcher::current().start(transferProgram(), QStringList(), QString(), &why)) {
        messageBox(QStringLiteral("Could not start File Transfer Program!"), QStringLiteral("ERROR"),
                   PromptIcon::Error, Ok);
        return;
    }
    messageDlg(QStringLiteral("The File Transfer Program was started for the %1 file(s) waiting in the send "
                              "folder.\r\n\"View Status\" shows how the sending goes.")
                   .arg(waiting.size()),
               DialogKind::Information, Ok);
}

void Submission::mnuViewStatusClick() {
    auto* window = new TfrmXmitLog(mainWindow_);
    window->loadLog(statusLogName());
    window->exec();
    delete window;
}

}  // namespace tarvik
