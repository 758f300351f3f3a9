#include "store/recovery.h"

#include <QAbstractButton>
#include <QAbstractItemModel>
#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSet>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTimer>
#include <QtEndian>
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "pages/choicegroups.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/bidtables.h"
#include "store/lifecycle.h"
#include "tableaccess/xbase/fileio.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"
#include "widgets/stringgridmodel.h"

namespace tarvik {

namespace {

using Snapshot = RecoverySnapshot;

constexpr char kMagic[8] = {'T', 'A', 'R', 'V', 'I', 'K', 'R', 'C'};
constexpr quint32 kVersion = 1;
constexpr int kHashSize = 32;  // BLAKE2b-256
constexpr qsizetype kHeaderSize = 8 + 4 + 8 + kHashSize;
const char* const kGrids[] = {"IncentiveGrid", "CubeGrid", "ShipmentGrid"};
constexpr int kShipmentColumns = 12;
// The in-cell pickers of the Shipment Data page follow the current line; they hold nothing of their own.
const char* const kNotCopied[] = {"cbxServices", "cbxCountry"};

// True when the widget belongs to a compound control whose value is copied as a whole (a grid, a
// combo box, a spin box, a radio or check group).
bool insideCompound(const QWidget* widget, const QWidget* top) {
    for (const QWidget* p = widget->parentWidget(); p && p != top; p = p->parentWidget())
        if (qobject_cast<const StringGrid*>(p) || qobject_cast<const QComboBox*>(p) ||
            qobject_cast<const QAbstractSpinBox*>(p) || qobject_cast<const RadioGroup*>(p) ||
            qobject_cast<const CheckGroup*>(p))
            return true;
    return false;
}

bool notCopied(const QString& name) {
    for (const char* n : kNotCopied)
        if (name == QLatin1String(n)) return true;
    return false;
}

// ---- Bytes ----

class Out {
  public:
    explicit Out(QByteArray& bytes) : b_(bytes) {}
    void u8(quint8 v) { b_.append(char(v)); }
    void u32(quint32 v) {
        const quint32 le = qToLittleEndian(v);
        b_.append(reinterpret_cast<const char*>(&le), 4);
    }
    void i32(qint32 v) { u32(quint32(v)); }
    void i64(qint64 v) {
        const quint64 le = qToLittleEndian(quint64(v));
        b_.append(reinterpret_cast<const char*>(&le), 8);
    }
    void str(const QString& s) {
        u32(quint32(s.size()));
        if (s.isEmpty()) return;
        if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
            b_.append(reinterpret_cast<const char*>(s.utf16()), s.size() * 2);
        } else {
            for (QChar c : s) {
                const quint16 le = qToLittleEndian(c.unicode());
                b_.append(reinterpret_cast<const char*>(&le), 2);
            }
        }
    }

  private:
    QByteArray& b_;
};

class In {
  public:
    In(const char* data, qsizetype size) : p_(data), end_(data + size) {}
    bool ok() const { return ok_; }
    bool atEnd() const { return p_ == end_; }
    qsizetype left() const { return end_ - p_; }
    quint8 u8() {
        if (!need(1)) return 0;
        return quint8(*p_++);
    }
    quint32 u32() {
        if (!need(4)) return 0;
        quint32 v;
        std::memcpy(&v, p_, 4);
        p_ += 4;
        return qFromLittleEndian(v);
    }
    qint32 i32() { return qint32(u32()); }
    qint64 i64() {
        if (!need(8)) return 0;
        quint64 v;
        std::memcpy(&v, p_, 8);
        p_ += 8;
        return qint64(qFromLittleEndian(v));
    }
    QString str() {
        const quint32 n = u32();
        if (!ok_ || !need(qsizetype(n) * 2)) return {};
        QString s(qsizetype(n), Qt::Uninitialized);
        for (quint32 i = 0; i < n; ++i) {
            quint16 c;
            std::memcpy(&c, p_ + 2 * i, 2);
            s[qsizetype(i)] = QChar(qFromLittleEndian(c));
        }
        p_ += qsizetype(n) * 2;
        return s;
    }

  private:
    bool need(qsizetype n) {
        if (!ok_ || n < 0 || end_ - p_ < n) {
            ok_ = false;
            return false;
        }
        return true;
    }
    const char* p_;
    const char* end_;
    bool ok_ = true;
};

QByteArray hashOf(const char* data, qsizetype size) {
    return QCryptographicHash::hash(QByteArrayView(data, size), QCryptographicHash::Blake2b_256);
}

// ---- Files ----

std::string native(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

// Writes bytes beside path, flushes them to disk and renames the file over path. False with the reason.
bool writeWhole(const QString& path, const QByteArray& bytes, QString* why) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    const QString beside = path + QStringLiteral(".new~");
    std::string error;
    xb::io::File file;
    bool ok = file.create(native(beside), true, error) &&
              file.writeAt(0, bytes.constData(), size_t(bytes.size())) &&
              file.truncate(uint64_t(bytes.size())) && file.sync();
    if (!ok && error.empty()) error = xb::io::lastSystemError();
    file.close();
    if (ok) ok = xb::io::replaceFile(native(beside), native(path), error);
    if (!ok) {
        xb::io::removeFile(native(beside));
        if (why) *why = QString::fromStdString(error);
    }
    return ok;
}

// The kept copies of a copy: <base>.<anything>.kept beside it.
QStringList keptCopies(const QString& copy) {
    const QFileInfo info(copy);
    const QString base = info.completeBaseName();
    QStringList out;
    for (const QString& name :
         QDir(info.absolutePath()).entryList({base + QStringLiteral(".*.kept")}, QDir::Files))
        out << info.absolutePath() + QLatin1Char('/') + name;
    return out;
}

}  // namespace

// ---- Encoding ----

QByteArray EncodeRecoveryCopy(const RecoverySnapshot& s) {
    QByteArray payload;
    qsizetype cells = 0;
    for (const Snapshot::Grid& g : s.grids)
        for (const QString& c : g.cells) cells += 4 + c.size() * 2;
    payload.reserve(cells + 64 * qsizetype(s.controls.size()) + 256);
    Out out(payload);
    out.str(s.bidId);
    out.str(s.company);
    out.i64(s.savedDate.isValid() ? s.savedDate.toJulianDay() : 0);
    out.i32(s.savedTime.isValid() ? s.savedTime.msecsSinceStartOfDay() : -1);
    out.i32(s.page);
    out.u32(quint32(s.controls.size()));
    for (const Snapshot::Control& c : s.controls) {
        out.str(c.name);
        out.u8(quint8(c.kind));
        out.i32(c.number);
        out.str(c.text);
        out.u8(c.enabled ? 1 : 0);
    }
    out.u32(quint32(s.grids.size()));
    for (const Snapshot::Grid& g : s.grids) {
        out.str(g.name);
        out.i32(g.rows);
        out.i32(g.cols);
        for (const QString& c : g.cells) out.str(c);
        out.u32(quint32(g.marks.size()));
        for (bool m : g.marks) out.u8(m ? 1 : 0);
    }

    QByteArray file;
    file.reserve(kHeaderSize + payload.size());
    file.append(kMagic, sizeof kMagic);
    Out head(file);
    head.u32(kVersion);
    head.i64(payload.size());
    file.append(hashOf(payload.constData(), payload.size()));
    file.append(payload);
    return file;
}

std::optional<RecoverySnapshot> DecodeRecoveryCopy(const QByteArray& bytes, QString* why) {
    auto fail = [why](const char* reason) {
        if (why) *why = QString::fromLatin1(reason);
        return std::nullopt;
    };
    if (bytes.size() < kHeaderSize || std::memcmp(bytes.constData(), kMagic, sizeof kMagic) != 0)
        return fail("not a recovery copy");
    In head(bytes.constData() + sizeof kMagic, 12);
    const quint32 version = head.u32();
    const qint64 size = head.i64();
    if (version != kVersion) return fail("a recovery copy of another version");
    if (size != bytes.size() - kHeaderSize) return fail("the copy is incomplete");
    const char* payload = bytes.constData() + kHeaderSize;
    if (hashOf(payload, size) != bytes.mid(8 + 12, kHashSize)) return fail("the checksum does not match");

    In in(payload, size);
    RecoverySnapshot s;
    s.bidId = in.str();
    s.company = in.str();
    const qint64 day = in.i64();
    const qint32 msecs = in.i32();
    if (day != 0) s.savedDate = QDate::fromJulianDay(day);
    if (msecs >= 0) s.savedTime = QTime::fromMSecsSinceStartOfDay(msecs);
    s.page = in.i32();
    const quint32 controls = in.u32();
    for (quint32 i = 0; in.ok() && i < controls; ++i) {
        Snapshot::Control c;
        c.name = in.str();
        const quint8 kind = in.u8();
        if (kind < quint8(Snapshot::Kind::Text) || kind > quint8(Snapshot::Kind::Memo))
            return fail("unknown control kind");
        c.kind = Snapshot::Kind(kind);
        c.number = in.i32();
        c.text = in.str();
        c.enabled = in.u8() != 0;
        s.controls.push_back(std::move(c));
    }
    const quint32 grids = in.u32();
    for (quint32 i = 0; in.ok() && i < grids; ++i) {
        Snapshot::Grid g;
        g.name = in.str();
        g.rows = in.i32();
        g.cols = in.i32();
        const qint64 count = qint64(g.rows) * g.cols;
        // Every cell takes at least its length.
        if (g.rows < 0 || g.cols < 0 || count * 4 > in.left()) return fail("a grid larger than the copy");
        g.cells.reserve(size_t(count));
        for (qint64 k = 0; in.ok() && k < count; ++k) g.cells.push_back(in.str());
        const quint32 marks = in.u32();
        if (qint64(marks) > in.left()) return fail("more marks than the copy holds");
        for (quint32 k = 0; in.ok() && k < marks; ++k) g.marks.push_back(in.u8() != 0);
        s.grids.push_back(std::move(g));
    }
    if (!in.ok() || !in.atEnd()) return fail("the copy does not hold what its header says");
    return s;
}

// ---- The window ----

RecoverySnapshot CaptureBidWindow(QWidget* w) {
    RecoverySnapshot s;
    if (!w) return s;
    const QDateTime now = Clock::current().now();
    s.savedDate = now.date();
    s.savedTime = now.time();
    s.bidId = bidControlText(w, "ebxLocalBidID");
    s.company = bidControlText(w, "ebxCompanyName1");
    if (auto* tabs = bidControl<QTabWidget>(w, "tabEntryPages")) s.page = tabs->currentIndex();

    QSet<QString> seen;
    for (QWidget* c : w->findChildren<QWidget*>()) {
        const QString name = c->objectName();
        if (name.isEmpty() || seen.contains(name) || notCopied(name) || insideCompound(c, w)) continue;
        Snapshot::Control v;
        v.name = name;
        v.enabled = c->isEnabled();
        if (auto* e = qobject_cast<QLineEdit*>(c)) {
            v.kind = Snapshot::Kind::Text;
            v.text = e->text();
        } else if (auto* b = qobject_cast<QComboBox*>(c)) {
            v.kind = Snapshot::Kind::Combo;
            v.number = b->currentIndex();
            v.text = b->currentText();
        } else if (auto* g = qobject_cast<RadioGroup*>(c)) {
            v.kind = Snapshot::Kind::Radio;
            v.number = g->itemIndex();
        } else if (auto* g = qobject_cast<CheckGroup*>(c)) {
            v.kind = Snapshot::Kind::Checks;
            for (int i = 0; i < g->count() && i < 31; ++i)
                if (g->isItemChecked(i)) v.number |= 1 << i;
        } else if (auto* b = qobject_cast<QCheckBox*>(c)) {
            v.kind = Snapshot::Kind::Check;
            v.number = b->isChecked() ? 1 : 0;
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(c)) {
            v.kind = Snapshot::Kind::Memo;
            v.text = m->toPlainText();
        } else {
            continue;
        }
        seen.insert(name);
        s.controls.push_back(std::move(v));
    }

    ServicesPage* services = BidPages::of(w).services;
    for (const char* name : kGrids) {
        auto* grid = bidControl<StringGrid>(w, name);
        if (!grid) continue;
        const StringGridModel* model = grid->gridModel();
        Snapshot::Grid g;
        g.name = QLatin1String(name);
        g.rows = std::max(0, model->gridRowCount() - 1);
        g.cols = std::max(0, model->gridColCount() - 1);
        if (g.name == QLatin1String("ShipmentGrid")) g.cols = std::min(g.cols, kShipmentColumns);
        g.cells.reserve(size_t(g.rows) * size_t(g.cols));
        for (int r = 1; r <= g.rows; ++r)
            for (int c = 1; c <= g.cols; ++c) g.cells.push_back(model->cellRef(c, r));
        if (g.name == QLatin1String("IncentiveGrid") && services && services->incentiveGrid() == grid) {
            for (int r = 1; r <= g.rows; ++r) {
                QCheckBox* box = services->primaryBox(r);
                g.marks.push_back(box && box->isChecked());
            }
        }
        s.grids.push_back(std::move(g));
    }
    return s;
}

void RestoreBidWindow(QWidget* w, MainState& state, const RecoverySnapshot& s) {
    if (!w) return;
    ClearBidWindow(w, state);
    state.FLoading = true;
    const BidPages pages = BidPages::of(w);

    for (const Snapshot::Control& v : s.controls) {
        QWidget* c = w->findChild<QWidget*>(v.name);
        if (!c || insideCompound(c, w)) continue;
        switch (v.kind) {
            case Snapshot::Kind::Text:
                if (auto* e = qobject_cast<QLineEdit*>(c)) {
                    e->setText(v.text);
                    e->setCursorPosition(0);
                }
                break;
            case Snapshot::Kind::Combo:
                if (auto* b = qobject_cast<QComboBox*>(c)) {
                    const QSignalBlocker quiet(b);  // what a pick would change is restored with the rest
                    b->setCurrentIndex(v.number < b->count() ? v.number : -1);
                    if (b->isEditable() && b->currentText() != v.text) b->setEditText(v.text);
                }
                break;
            case Snapshot::Kind::Radio:
                if (auto* g = qobject_cast<RadioGroup*>(c))
                    g->setItemIndex(v.number < g->count() ? v.number : -1);
                break;
            case Snapshot::Kind::Checks:
                if (auto* g = qobject_cast<CheckGroup*>(c))
                    for (int i = 0; i < g->count() && i < 31; ++i) g->setItemChecked(i, (v.number >> i) & 1);
                break;
            case Snapshot::Kind::Check:
                if (auto* b = qobject_cast<QCheckBox*>(c)) b->setChecked(v.number != 0);
                break;
            case Snapshot::Kind::Memo:
                if (auto* m = qobject_cast<QPlainTextEdit*>(c)) m->setPlainText(v.text);
                break;
        }
        c->setEnabled(v.enabled);
    }
    // A label follows the control it names (the percentage of a beaten competitor).
    for (QLabel* label : w->findChildren<QLabel*>())
        if (label->buddy() && w->isAncestorOf(label->buddy())) label->setEnabled(label->buddy()->isEnabled());

    for (const Snapshot::Grid& g : s.grids) {
        auto* grid = bidControl<StringGrid>(w, g.name.toLatin1().constData());
        if (!grid) continue;
        const bool shipment = pages.shipment && pages.shipment->shipmentGrid() == grid;
        if (shipment) {
            if (g.rows > grid->rowCount() - 1)
                pages.shipment->appendLines(g.rows - (grid->rowCount() - 1));
            else if (g.rows < grid->rowCount() - 1)
                grid->setRowCount(g.rows + 1);
        }
        const int rows = std::min(g.rows, grid->rowCount() - 1);
        const int cols = std::min(g.cols, grid->colCount() - 1);
        grid->beginUpdate();
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= cols; ++c)
                grid->setCell(c, r, g.cells[size_t(r - 1) * size_t(g.cols) + size_t(c - 1)]);
        grid->endUpdate();
        if (pages.services && pages.services->incentiveGrid() == grid)
            for (int r = 1; r <= rows && r <= int(g.marks.size()); ++r)
                if (QCheckBox* box = pages.services->primaryBox(r)) box->setChecked(g.marks[size_t(r - 1)]);
    }
    if (pages.shipment) {
        auto* mob = bidControl<QCheckBox>(w, "chbMOB");
        pages.shipment->showFromPostColumn(mob && mob->isChecked());
        pages.shipment->syncPickers();
    }
    if (auto* tabs = bidControl<QTabWidget>(w, "tabEntryPages"))
        if (s.page >= 0 && s.page < tabs->count()) tabs->setCurrentIndex(s.page);
    state.FLoading = false;
}

// ---- Folder ----

QString RecoveryFolder(const MainState& state) {
    return state.FDataFolder + QStringLiteral("/Recover");
}

QString RecoveryFileName(const QString& bidId) {
    QString name;
    for (QChar c : bidId.trimmed()) {
        const ushort u = c.unicode();
        if ((u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z'))
            name += c;
        else
            name += QStringLiteral("_%1").arg(u, 4, 16, QLatin1Char('0'));
    }
    return name + QStringLiteral(".rcv");
}

// ---- The writer thread ----

class BidRecovery::Writer {
  public:
    Writer() : thread_([this] { run(); }) {}
    ~Writer() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }

    // A later copy of the same file makes an earlier one that has not begun needless.
    void write(const QString& path, std::shared_ptr<const RecoverySnapshot> snapshot, quint64 serial) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                                       [&](const Job& j) { return j.snapshot && j.path == path; }),
                        jobs_.end());
            jobs_.push_back({path, std::move(snapshot), serial, false});
        }
        wake_.notify_all();
    }
    void remove(const QString& path, bool keptToo) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            jobs_.erase(std::remove_if(jobs_.begin(), jobs_.end(),
                                       [&](const Job& j) { return j.snapshot && j.path == path; }),
                        jobs_.end());
            jobs_.push_back({path, nullptr, 0, keptToo});
        }
        wake_.notify_all();
    }
    void flush() {
        std::unique_lock<std::mutex> lock(mutex_);
        idle_.wait(lock, [this] { return jobs_.empty() && !busy_; });
    }
    void setWritten(std::function<void(quint64)> f) {
        std::lock_guard<std::mutex> lock(mutex_);
        written_ = std::move(f);
    }
    // The first failure not yet reported, taken.
    QString takeFailure() {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::exchange(failure_, QString());
    }
    std::function<void()> failed;  // called on the writer thread after a failure

  private:
    struct Job {
        QString path;
        std::shared_ptr<const RecoverySnapshot> snapshot;  // null: remove
        quint64 serial;
        bool keptToo;
    };

    void run() {
        for (;;) {
            Job job;
            std::function<void(quint64)> written;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [this] { return stop_ || !jobs_.empty(); });
                if (jobs_.empty()) return;  // stopping with nothing left
                job = std::move(jobs_.front());
                jobs_.pop_front();
                busy_ = true;
                written = written_;
            }
            QString why;
            bool ok = true;
            if (job.snapshot) {
                ok = writeWhole(job.path, EncodeRecoveryCopy(*job.snapshot), &why);
                if (ok && written) written(job.serial);
            } else {
                QStringList gone{job.path};
                if (job.keptToo) gone << keptCopies(job.path);
                for (const QString& p : gone)
                    if (QFile::exists(p) && !QFile::remove(p)) {
                        ok = false;
                        why = QStringLiteral("%1 cannot be removed").arg(QDir::toNativeSeparators(p));
                    }
                if (!gone.isEmpty()) xb::io::syncFolderOf(native(job.path));
            }
            bool report = false;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                busy_ = false;
                if (!ok && failure_.isEmpty()) {
                    failure_ = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(job.path), why);
                    report = true;
                }
            }
            if (report && failed) failed();
            idle_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Job> jobs_;
    bool busy_ = false;
    bool stop_ = false;
    QString failure_;
    std::function<void(quint64)> written_;
    std::thread thread_;
};

// ---- The watcher ----

BidRecovery::BidRecovery(MainState& state, QWidget* mainWindow, QObject* parent)
    : QObject(parent), state_(state), window_(mainWindow), writer_(std::make_unique<Writer>()) {
    idle_ = new QTimer(this);
    idle_->setSingleShot(true);
    idle_->setInterval(kDefaultIdleMilliseconds);
    connect(idle_, &QTimer::timeout, this, &BidRecovery::capture);
    // A copy that cannot be written is said once: the bid then lives only on screen until it is stored.
    writer_->failed = [this] {
        QMetaObject::invokeMethod(
            this,
            [this] {
                const QString failure = writer_->takeFailure();
                if (failure.isEmpty() || warned_) return;
                warned_ = true;
                messageBox(
                    QStringLiteral("The recovery copy of the bid on screen could not be written (%1).\r\n"
                                   "Until the bid is stored, what is typed is kept only on screen.")
                        .arg(failure),
                    QStringLiteral("Recover Bid"), PromptIcon::Warning, Ok);
            },
            Qt::QueuedConnection);
    };
    watch();
}

BidRecovery::~BidRecovery() {
    writer_.reset();  // waits for what was asked; a failure it reports now is dropped with this object
}

void BidRecovery::setIdleInterval(int milliseconds) {
    idle_->setInterval(milliseconds);
}

void BidRecovery::setWrittenObserver(std::function<void(quint64)> observer) {
    writer_->setWritten(std::move(observer));
}

QString BidRecovery::copyPath(const QString& bidId) const {
    return RecoveryFolder(state_) + QLatin1Char('/') + RecoveryFileName(bidId);
}

QString BidRecovery::openBidId() const {
    return window_ ? bidControlText(window_, "ebxLocalBidID") : QString();
}

bool BidRecovery::quiet() const {
    return restoring_ || state_.FLoading || state_.FNewBidGuard;
}

void BidRecovery::watch() {
    QWidget* w = window_;
    if (!w) return;
    auto mark = [this] { changed(); };
    for (QLineEdit* e : w->findChildren<QLineEdit*>()) connect(e, &QLineEdit::textChanged, this, mark);
    for (QComboBox* c : w->findChildren<QComboBox*>())
        connect(c, &QComboBox::currentIndexChanged, this, mark);
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>())
        if (b->isCheckable()) connect(b, &QAbstractButton::toggled, this, mark);
    for (QPlainTextEdit* m : w->findChildren<QPlainTextEdit*>())
        connect(m, &QPlainTextEdit::textChanged, this, mark);
    for (StringGrid* g : w->findChildren<StringGrid*>()) {
        StringGridModel* model = g->gridModel();
        connect(model, &QAbstractItemModel::dataChanged, this, mark);
        connect(model, &QAbstractItemModel::rowsRemoved, this, mark);
        connect(model, &QAbstractItemModel::modelReset, this, mark);
        // Empty lines added at the end (the grid keeps an empty last line) change nothing typed.
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this, model](const QModelIndex&, int first, int last) {
                    const bool atEnd = last == model->rowCount() - 1;
                    bool empty = true;
                    for (int r = first; r <= last && empty; ++r)
                        for (int c = 1; c < model->gridColCount() && empty; ++c)
                            empty = model->cellRef(c, r + 1).isEmpty();
                    if (!atEnd || !empty) changed();
                });
    }
    if (auto* tabs = bidControl<QTabWidget>(w, "tabEntryPages"))
        connect(tabs, &QTabWidget::currentChanged, this, &BidRecovery::writeSoon);
}

void BidRecovery::changed() {
    if (quiet() || openBidId().trimmed().isEmpty()) return;
    dirty_ = true;
    idle_->start();
}

void BidRecovery::writeSoon() {
    capture();
}

void BidRecovery::capture() {
    idle_->stop();
    if (!dirty_ || !window_ || quiet()) return;
    const QString id = openBidId();
    if (id.trimmed().isEmpty()) return;
    auto snapshot = std::make_shared<const RecoverySnapshot>(CaptureBidWindow(window_));
    dirty_ = false;
    writer_->write(copyPath(id), std::move(snapshot), ++serial_);
}

void BidRecovery::flush() {
    writer_->flush();
}

void BidRecovery::removeCopies(const QString& id, bool keptToo) {
    if (id.trimmed().isEmpty()) return;
    writer_->remove(copyPath(id), keptToo);
}

void BidRecovery::beforeStore(const QString& id) {
    // The copy holds what is being stored: a store cut short leaves it to be restored.
    if (id == openBidId()) capture();
    flush();
}

void BidRecovery::afterStore(const QString& id, bool stored) {
    if (!stored) return;  // the copy stays: the bid is in the window and in the copy only
    removeCopies(id, true);
    if (id == openBidId()) {
        dirty_ = false;
        idle_->stop();
    }
}

void BidRecovery::bidDeleted(const QString& id) {
    removeCopies(id, true);
}

void BidRecovery::bidCleared(const QString& id) {
    if (restoring_) return;
    removeCopies(id, false);
    dirty_ = false;
    idle_->stop();
}

void BidRecovery::windowClosed() {
    idle_->stop();
    dirty_ = false;
    removeCopies(openBidId(), false);
    flush();
}

bool BidRecovery::offerRestore() {
    flush();
    const QString folder = RecoveryFolder(state_);
    struct Found {
        QString path;
        RecoverySnapshot snapshot;
    };
    std::vector<Found> found;
    // A file a write was cut short in is no copy at all.
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.new~")}, QDir::Files))
        QFile::remove(folder + QLatin1Char('/') + name);
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.rcv")}, QDir::Files)) {
        const QString path = folder + QLatin1Char('/') + name;
        QFile file(path);
        QString why = QStringLiteral("it cannot be read");
        std::optional<RecoverySnapshot> snapshot;
        if (file.open(QIODevice::ReadOnly)) snapshot = DecodeRecoveryCopy(file.readAll(), &why);
        file.close();
        if (snapshot) {
            found.push_back({path, std::move(*snapshot)});
            continue;
        }
        // Never restored, never deleted: set aside where it can be looked at.
        const QString aside = path + QStringLiteral(".damaged");
        QFile::remove(aside);
        QFile::rename(path, aside);
        messageBox(
            QStringLiteral("A recovery copy of a bid cannot be restored: %1.\r\nIt was set aside as %2.")
                .arg(why, QDir::toNativeSeparators(aside)),
            QStringLiteral("Recover Bid"), PromptIcon::Warning, Ok);
    }
    std::stable_sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return QDateTime(a.snapshot.savedDate, a.snapshot.savedTime) >
               QDateTime(b.snapshot.savedDate, b.snapshot.savedTime);
    });
    for (const Found& f : found) {
        const RecoverySnapshot& s = f.snapshot;
        const QString company =
            s.company.trimmed().isEmpty() ? QStringLiteral("(no company name)") : s.company.trimmed();
        const QString question = QStringLiteral(
                                     "Bid %1 of %2 was not stored when the program last ended.\r\n"
                                     "A recovery copy of it was saved on %3 at %4.\r\n\r\n"
                                     "Restore it? Yes puts the bid on screen as it was, without storing it; "
                                     "No keeps the copy aside.")
                                     .arg(s.bidId.trimmed(), company, dateToText(s.savedDate),
                                          s.savedTime.toString(QStringLiteral("HH:mm")));
        if (messageBox(question, QStringLiteral("Recover Bid"), PromptIcon::Question, Yes | No, Yes) == Yes) {
            restoring_ = true;
            RestoreBidWindow(window_, state_, s);
            restoring_ = false;
            dirty_ = false;
            idle_->stop();
            return true;
        }
        // Kept aside until the bid is next stored.
        const QString stamp = QDateTime(s.savedDate, s.savedTime).toString(QStringLiteral("yyyyMMdd-HHmmss"));
        const QString base = f.path.left(f.path.size() - 4);  // without ".rcv"
        QString kept = base + QLatin1Char('.') + stamp + QStringLiteral(".kept");
        for (int n = 2; QFile::exists(kept); ++n)
            kept = base + QLatin1Char('.') + stamp + QStringLiteral("-%1.kept").arg(n);
        QFile::rename(f.path, kept);
    }
    return false;
}

}  // namespace tarvik
