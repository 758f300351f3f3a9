#include "store/lifecycle.h"

#include <QAbstractSpinBox>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSet>
#include <QSignalBlocker>
#include <QTabWidget>
#include <QTextEdit>
#include <cmath>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "store/bidtables.h"
#include "store/loadbid.h"
#include "store/storebid.h"
#include "tableaccess/tableaccess.h"
#include "tableedit/dbeditform.h"
#include "widgets/combohelpers.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

LifecycleHooks& hooks() {
    static LifecycleHooks h;
    return h;
}

QString localBidId(QWidget* w) {
    auto* e = bidControl<QLineEdit>(w, "ebxLocalBidID");
    return e ? e->text() : QString();
}

bool bidOpen(QWidget* w) { return !localBidId(w).isEmpty(); }

// True when the widget sits inside a grid, a combo box or a spin box: their inner edits belong to them.
bool insideCompound(QWidget* widget, QWidget* top) {
    for (QWidget* p = widget->parentWidget(); p && p != top; p = p->parentWidget())
        if (qobject_cast<StringGrid*>(p) || qobject_cast<QComboBox*>(p) || qobject_cast<QAbstractSpinBox*>(p))
            return true;
    return false;
}

// The record picker on Bids, shown modally. Returns the record chosen, 0 when none.
int pickBid(QWidget* mainWindow, MainState& state) {
    int chosen = 0;
    {
        TDBeditForm picker(mainWindow, state.FProgramFolder, state.FDataFolder, state.DataContext);
        picker.SetPickerMode(true);
        picker.SetTableName(QStringLiteral("Bids"));
        if (state.FBidRecNo != 0) picker.SetStartRecord(state.FBidRecNo);
        picker.exec();
        chosen = picker.SelectedRecord();
        if (chosen != 0) state.FBidRecNo = chosen;
    }
    if (mainWindow) mainWindow->repaint();
    return chosen;
}

}  // namespace

void setLifecycleHooks(LifecycleHooks h) { hooks() = std::move(h); }
const LifecycleHooks& lifecycleHooks() { return hooks(); }

// ---- Save question ----

bool AskSaveBid(QWidget* mainWindow, MainState& state, SaveQuestion form) {
    if (!bidOpen(mainWindow)) return true;
    const QString text = QStringLiteral("Save Bid Working on?");
    const int answer = form == SaveQuestion::MessageBox
                           ? messageBox(text, QStringLiteral("File Write"), PromptIcon::Question, Yes | No | Cancel)
                           : messageDlg(text, DialogKind::Confirmation, Yes | No | Cancel);
    if (answer == Yes) {
        if (StoreBid(mainWindow, state)) return true;
        // The bid on screen is the only complete copy: the flow stops and the window keeps it.
        ReportBidNotStored(localBidId(mainWindow));
        return false;
    }
    return answer == No;
}

void ReportBidNotStored(const QString& id) {
    messageBox(
        QStringLiteral("Bid %1 was not stored. It stays on screen; nothing else was done.").arg(id.trimmed()),
        QStringLiteral("File Write"), PromptIcon::Error, Ok);
}

// ---- Bid IDs ----

QString BidIdAt(const QString& name, const QDateTime& time, int step, int width) {
    const QDate epoch(1899, 12, 30);
    const double days = static_cast<double>(epoch.daysTo(time.date())) +
                        static_cast<double>(time.time().msecsSinceStartOfDay()) / 86400000.0;
    // The day number printed with five decimals ("%6.5f": the printed digits, not a product rounded on
    // its own, which differs at exact halves), then counted in hundred-thousandths so that steps add
    // exactly.
    QString printed = QString::asprintf("%6.5f", days);
    printed.remove(QLatin1Char('.'));
    const long long units = printed.toLongLong() + step;
    const QString stamp = QString::asprintf("%lld%05lld", units / 100000, units % 100000);
    QString letters;
    for (QChar c : name.trimmed()) {
        const QString one(c);
        if (ta::IsNumber(one) || ta::IsAlpha(one)) letters += c;
    }
    // The whole ID must fit `local_bid`: a long name gives up its end, the time stamp stays whole.
    if (width > 0 && letters.size() + stamp.size() > width)
        letters.truncate(std::max<qsizetype>(0, width - stamp.size()));
    return letters + stamp;
}

QString MakeBidId(QWidget* mainWindow, const MainState& state) {
    auto* account = bidControl<QComboBox>(mainWindow, "cbxAccountName");
    const QString name = account ? account->currentText() : QString();
    const QDateTime now = Clock::current().now();

    QSet<QString> taken;
    taken.insert(localBidId(mainWindow).trimmed());
    const int bids = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Bids")));
    if (bids > 0) {
        if (ta::d4top(bids) == 0) {
            do {
                taken.insert(ta::fetch(bids, QStringLiteral("local_bid")).trimmed());
            } while (ta::d4skip(bids, 1) == 0);
        }
        ta::d4close(bids);
    }
    const int width = bidIdWidth(state);
    for (int step = 0;; ++step) {
        const QString id = BidIdAt(name, now, step, width);
        if (!taken.contains(id)) return id;
    }
}

// ---- Clearing ----

void ApplyBidDefaults(QWidget* mainWindow) {
    const BidPages pages = BidPages::of(mainWindow);
    if (auto* g = bidControl<RadioGroup>(mainWindow, "rgBidType")) g->setItemIndex(-1);
    if (auto* b = bidControl<QCheckBox>(mainWindow, "chbRegain")) b->setChecked(false);
    if (auto* g = bidControl<CheckGroup>(mainWindow, "cgBillingOption")) {
        g->clearChecks();
        if (g->count() > 0) g->setItemChecked(0, true);
    }
    if (auto* b = bidControl<QCheckBox>(mainWindow, "chbMultiOnly")) b->setChecked(true);
    if (auto* e = bidControl<QLineEdit>(mainWindow, "ebxAssociated")) {
        e->setText(QStringLiteral("Not part of a VYN approved association"));
        e->setCursorPosition(0);
    }
    if (auto* e = bidControl<QLineEdit>(mainWindow, "ebxShipper")) e->setText(QStringLiteral("New"));
    if (auto* c = bidControl<QWidget>(mainWindow, "ebxBeatPercent")) c->setEnabled(false);
    if (auto* l = bidControl<QWidget>(mainWindow, "lblBeatPercent")) l->setEnabled(false);
    Q_UNUSED(pages);
}

void ClearGrid(QWidget* mainWindow, StringGrid* grid) {
    if (!grid) return;
    const BidPages pages = BidPages::of(mainWindow);
    const QString name = grid->objectName();
    if (name == QLatin1String("ShipmentGrid")) {
        if (pages.shipment && pages.shipment->shipmentGrid() == grid) {
            pages.shipment->clearGrid();  // 30 numbered lines, every cell emptied
            return;
        }
        grid->setRowCount(ShipmentPage::InitialLines + 1);
    }
    const bool incentive = name == QLatin1String("IncentiveGrid");
    for (int r = 1; r < grid->rowCount(); ++r) {
        if (incentive && pages.services)
            if (QCheckBox* box = pages.services->primaryBox(r)) box->setChecked(false);
        if (incentive && grid->cell(1, r).startsWith(QLatin1String("-----"))) continue;  // headings keep their dashes
        for (int c = 1; c < grid->colCount(); ++c) grid->setCell(c, r, QString());
    }
}

void ClearBidWindow(QWidget* mainWindow, MainState& state) {
    if (!mainWindow) return;
    const QString id = localBidId(mainWindow);
    state.FLoading = true;
    for (QWidget* w : mainWindow->findChildren<QWidget*>()) {
        if (auto* grid = qobject_cast<StringGrid*>(w)) {
            ClearGrid(mainWindow, grid);
            continue;
        }
        if (insideCompound(w, mainWindow)) continue;
        if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->clear();
        } else if (auto* c = qobject_cast<QComboBox*>(w)) {
            const QSignalBlocker quiet(c);  // emptying a picker is not a choice
            c->setCurrentIndex(-1);
            if (c->isEditable()) c->setEditText(QString());
        } else if (auto* g = qobject_cast<RadioGroup*>(w)) {
            g->setItemIndex(-1);
        } else if (auto* g = qobject_cast<CheckGroup*>(w)) {
            g->clearChecks();
        } else if (auto* b = qobject_cast<QCheckBox*>(w)) {
            b->setChecked(false);
        } else if (auto* m = qobject_cast<QPlainTextEdit*>(w)) {
            m->clear();
        } else if (auto* m = qobject_cast<QTextEdit*>(w)) {
            m->clear();
        }
    }
    ApplyBidDefaults(mainWindow);
    state.FLoading = false;
    if (!id.isEmpty() && bidStoreEvents().cleared) bidStoreEvents().cleared(mainWindow, id);
}

// ---- Flows ----

void NewBid(QWidget* mainWindow, MainState& state) {
    state.FNewBidGuard = true;
    auto* account = bidControl<QComboBox>(mainWindow, "cbxAccountName");
    if (!account || account->currentText().isEmpty()) {
        messageDlg(QStringLiteral("Please Select an Account Executive Name..."), DialogKind::Error, Ok);
        state.FNewBidGuard = false;
        return;
    }
    if (!AskSaveBid(mainWindow, state, SaveQuestion::Confirmation)) {
        state.FNewBidGuard = false;
        return;
    }
    const int executive = account->currentIndex();
    // The ID is made while the bid it replaces is still on screen, so that the new one differs from it
    // even when that bid was never stored.
    const QString id = MakeBidId(mainWindow, state);
    ClearBidWindow(mainWindow, state);
    {
        const QSignalBlocker quiet(account);
        account->setCurrentIndex(executive);
    }
    if (hooks().accountNameChange) hooks().accountNameChange();
    if (auto* e = bidControl<QLineEdit>(mainWindow, "ebxLocalBidID")) e->setText(id);
    if (auto* e = bidControl<QLineEdit>(mainWindow, "ebxLocalStatus")) e->setText(QStringLiteral("Draft"));
    const BidPages pages = BidPages::of(mainWindow);
    if (auto* tabs = bidControl<QTabWidget>(mainWindow, "tabEntryPages"); tabs && pages.main)
        tabs->setCurrentWidget(pages.main);
    if (auto* e = bidControl<QLineEdit>(mainWindow, "ebxCompanyName1")) e->setFocus();
    state.FNewBidGuard = false;
}

void SelectBid(QWidget* mainWindow, MainState& state) {
    if (!AskSaveBid(mainWindow, state, SaveQuestion::MessageBox)) return;
    const int chosen = pickBid(mainWindow, state);
    if (chosen != 0) {
        ClearBidWindow(mainWindow, state);
        LoadBid(mainWindow, state, state.FBidRecNo);
    }
    // Whatever was chosen: the pickers follow the current line, and the grid ends with an empty line.
    if (ShipmentPage* page = BidPages::of(mainWindow).shipment) {
        page->syncPickers();
        if (!page->lineIsEmpty(page->lastLine())) page->appendLine();
    }
}

void DeleteBid(QWidget* mainWindow, MainState& state) {
    // Only the bid picked now can be deleted: Cancel (or a picker with no bid) cancels, whatever bid was
    // chosen earlier.
    const int chosen = pickBid(mainWindow, state);
    if (chosen == 0) return;
    const int bids = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Bids")));
    if (bids <= 0) return;
    if (chosen >= 1 && chosen <= ta::d4recCountDo(bids) && ta::d4go(bids, chosen) == 0) {
        const QString id = ta::fetch(bids, QStringLiteral("local_bid"));
        if (messageBox(QStringLiteral("Delete Bid: ") + id, QStringLiteral("WARNING"), PromptIcon::Warning, Yes | No,
                       No) == Yes)
            DeleteBidRecords(bids, state);
    }
    ta::d4close(bids);
}

void DeleteBidRecords(int bidsTable, const MainState& state) {
    const QString id = ta::fetch(bidsTable, QStringLiteral("local_bid"));
    ta::d4delete(bidsTable);
    ta::d4pack(bidsTable);
    if (bidStoreEvents().deleted) bidStoreEvents().deleted(id.trimmed());
    const QString tailPath = state.tablePath(QStringLiteral("BidTail"));
    const int tail = ta::mOpen(state.DataContext, tailPath);
    if (tail <= 0) return;
    const RecordMatches found = findRecords(tail, tailPath, QStringLiteral("local_bid"), id);
    bool deleted = false;
    for (int rec : found.records) {
        if (ta::d4go(tail, rec) != 0) continue;
        ta::d4delete(tail);
        deleted = true;
    }
    if (deleted || found.anyDeleted) ta::d4pack(tail);
    ta::d4close(tail);
}

}  // namespace tarvik
