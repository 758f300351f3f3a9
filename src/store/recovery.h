// Autosave and crash recovery: a recovery copy of the bid on screen, kept beside the data so that what
// was typed since the bid was last stored survives the program being killed, the machine losing power
// or the session ending.
//
// While a bid with an ID is open, every change of the window (any page's controls, the three grids, the
// Primary? boxes) starts a short wait; when the user has stopped typing for that long, and at every page
// change, the whole window is copied (on the window's thread, a quick copy of the texts) and written by a
// writer thread into data/Recover/<ID>.rcv: into a file beside it, flushed to disk, then renamed over
// the copy, so that the copy on disk is always a whole one. The file carries a checksum; one that does
// not match is never restored.
//
// The copy goes when the bid is stored (after a store that succeeds; before every store the copy is
// brought up to date, so a store cut short leaves the bid as it was being stored), deleted, cleared from
// the window (a new bid, another bid, submission) or left at exit without storing.
//
// At start, a copy found is offered: the question names the bid, its company and the time the copy was
// saved. Yes puts the bid on screen exactly as it was (nothing is stored); No sets the copy aside
// (<ID>.<time>.kept) until the bid is next stored.
#pragma once

#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTime>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pages/mainstate.h"

class QTimer;
class QWidget;

namespace tarvik {

// ---- The copy of the window ----
struct RecoverySnapshot {
    enum class Kind : quint8 { Text = 1, Combo = 2, Check = 3, Radio = 4, Checks = 5, Memo = 6 };
    struct Control {
        QString name;
        Kind kind = Kind::Text;
        qint32 number = 0;  // combo index, check state, radio index, check-group items as bits
        QString text;       // edit, memo and combo text
        bool enabled = true;
    };
    struct Grid {
        QString name;
        qint32 rows = 0;             // data rows, from row 1
        qint32 cols = 0;             // data columns, from column 1
        std::vector<QString> cells;  // row by row
        std::vector<bool> marks;     // IncentiveGrid: the Primary? box of each data row
    };

    QString bidId;
    QString company;
    QDate savedDate;  // local date and time of the clock when the copy was taken
    QTime savedTime;
    qint32 page = 0;  // the page in front
    std::vector<Control> controls;
    std::vector<Grid> grids;
};

// Copies the bid window (every named edit, combo, check box, radio and check group, memo of the pages,
// and the three grids) at the clock's time.
RecoverySnapshot CaptureBidWindow(QWidget* mainWindow);
// Puts a copy on screen: the window is cleared first, then every value is set with FLoading set, so that
// no handler acts on it. Controls or grid rows the window does not have are passed over.
void RestoreBidWindow(QWidget* mainWindow, MainState& state, const RecoverySnapshot& snapshot);

// The file's bytes: a header with a checksum, then the copy.
QByteArray EncodeRecoveryCopy(const RecoverySnapshot& snapshot);
// The copy of a file's bytes; nullopt with the reason in why when the bytes are not a whole copy.
std::optional<RecoverySnapshot> DecodeRecoveryCopy(const QByteArray& bytes, QString* why = nullptr);

// ---- The folder of the copies ----
QString RecoveryFolder(const MainState& state);  // <data folder>/Recover
// The file name of the copy of a bid: its ID with every character other than a letter or digit written
// as _ and its hexadecimal code, then ".rcv".
QString RecoveryFileName(const QString& bidId);

// ---- The watcher of one main window ----
class BidRecovery : public QObject {
    Q_OBJECT
  public:
    static constexpr int kDefaultIdleMilliseconds = 2500;

    // Watches mainWindow (its pages must be built). Writes nothing until a change is made.
    BidRecovery(MainState& state, QWidget* mainWindow, QObject* parent = nullptr);
    ~BidRecovery() override;  // waits for the copy being written

    // How long after the last change the copy is written.
    void setIdleInterval(int milliseconds);

    // At start: offers every copy found, newest first, until one is restored. Returns true when a copy
    // was put on screen.
    bool offerRestore();

    // Copies the window now when it changed since the last copy (and a bid is open); returns at once.
    void writeSoon();
    // Waits until every copy and removal asked for is done.
    void flush();

    // The bid's events, from the store and the lifecycle (wired by the application).
    void beforeStore(const QString& id);
    void afterStore(const QString& id, bool stored);
    void bidDeleted(const QString& id);
    void bidCleared(const QString& id);
    // The window closes: what it held was stored or, at the user's word, dropped.
    void windowClosed();

    // The path of the live copy of a bid.
    QString copyPath(const QString& bidId) const;
    bool changedSinceCopy() const { return dirty_; }

    // Tests and benchmarks: called on the writer thread after each copy is on disk under its name, with
    // the serial number the copy was given when it was taken (see lastSerial).
    void setWrittenObserver(std::function<void(quint64 serial)> observer);
    quint64 lastSerial() const { return serial_; }

  private:
    class Writer;
    void watch();
    void changed();
    void capture();
    bool quiet() const;
    QString openBidId() const;
    void removeCopies(const QString& id, bool keptToo);

    MainState& state_;
    QPointer<QWidget> window_;
    QTimer* idle_ = nullptr;
    std::unique_ptr<Writer> writer_;
    bool dirty_ = false;
    bool restoring_ = false;
    bool warned_ = false;
    quint64 serial_ = 0;
};

}  // namespace tarvik
