#include "store/loadbid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalBlocker>
#include <QTabWidget>

#include "pages/choicegroups.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/bidtables.h"
#include "tableaccess/tableaccess.h"
#include "widgets/combohelpers.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

void setText(QWidget* w, const char* name, const QString& value) {
    if (auto* e = bidControl<QLineEdit>(w, name)) e->setText(value);
}

void setTicked(QWidget* w, const char* name, bool on) {
    if (auto* b = bidControl<QCheckBox>(w, name)) b->setChecked(on);
}

// Item match: the first item equal to the text, or no selection.
void selectItem(QWidget* w, const char* name, const QString& value) {
    if (auto* c = bidControl<QComboBox>(w, name)) SelectComboText(c, value);
}

void applyRadio(QWidget* w, const char* name, const QString& value) {
    if (auto* g = bidControl<RadioGroup>(w, name)) ApplyRadioText(g, value);
}

// Step 3: what loading resets before it reads anything.
void resetBidProfile(QWidget* w) {
    if (auto* g = bidControl<RadioGroup>(w, "rgBidType")) g->setItemIndex(0);
    setTicked(w, "chbRegain", false);
    if (auto* g = bidControl<CheckGroup>(w, "cgBillingOption")) g->clearChecks();
    setTicked(w, "chbBroker", false);
    if (auto* c = bidControl<QComboBox>(w, "cbxBrokerage")) c->setCurrentIndex(-1);
}

// Fields 1 to 23.
void readMainAndShipper(QWidget* w, int bids, bool hasMob) {
    setText(w, "ebxLocalBidID", ta::fetch(bids, QStringLiteral("local_bid")));
    const QString date = ta::fetch(bids, QStringLiteral("subm_date"));
    if (!date.isEmpty() && !date.contains(QLatin1Char('/')))
        setText(w, "ebxSubmitDate", dateToText(ta::dtfetch(bids, QStringLiteral("subm_date"))));
    else
        setText(w, "ebxSubmitDate", date);
    setText(w, "ebxLocalStatus", ta::fetch(bids, QStringLiteral("loc_stat")));
    setTicked(w, "chkPortfolio", ta::tfetch(bids, QStringLiteral("portf_bid")));
    const QString company = ta::fetch(bids, QStringLiteral("comp_name"));
    setText(w, "ebxCompanyName1", company);
    setText(w, "ebxCompanyName2", company);

    // The account executive's lookup is not run: the sales team comes from the bid itself.
    if (auto* c = bidControl<QComboBox>(w, "cbxAccountName")) {
        const QSignalBlocker quiet(c);
        SelectComboText(c, ta::fetch(bids, QStringLiteral("ae_name")));
        setText(w, "ebxAccountName", c->currentIndex() >= 0 ? c->itemText(c->currentIndex()) : QString());
    }
    setText(w, "cbxSSA", ta::fetch(bids, QStringLiteral("ssa_name")));
    setText(w, "ebxSSAEmail", ta::fetch(bids, QStringLiteral("ssa_email")));
    setText(w, "cbxASM", ta::fetch(bids, QStringLiteral("asm_name")));
    setText(w, "cbxDistrict", ta::fetch(bids, QStringLiteral("district")));
    setText(w, "ebxRACFID", ta::fetch(bids, QStringLiteral("racf_id")));
    setText(w, "ebxShipper", ta::fetch(bids, QStringLiteral("ship_num")));
    setText(w, "ebxAddress", ta::fetch(bids, QStringLiteral("address")));
    setText(w, "ebxCity", ta::fetch(bids, QStringLiteral("city")));
    setText(w, "ebxProv", ta::fetch(bids, QStringLiteral("prov")));
    setText(w, "ebxPostalCode", ShownPostalCode(ta::fetch(bids, QStringLiteral("postal"))));
    setText(w, "ebxBusiness", ta::fetch(bids, QStringLiteral("perc_bus")));
    setText(w, "ebxCommodity", ta::fetch(bids, QStringLiteral("commod")));
    selectItem(w, "cbxIndustry", ta::fetch(bids, QStringLiteral("industry")));
    if (hasMob) setTicked(w, "chbMOB", ta::tfetch(bids, QStringLiteral("m_o_b")));
    const bool reseller = ta::tfetch(bids, QStringLiteral("resell_vyn"));
    setTicked(w, "chbResellerYes", reseller);
    setTicked(w, "chbResellerNo", !reseller);
    setText(w, "ebxValueDutyPct", QString::asprintf("%d", ta::ifetch(bids, QStringLiteral("val_duty"))));
    const bool value = ta::tfetch(bids, QStringLiteral("val_model"));
    setTicked(w, "chbValueYes", value);
    setTicked(w, "chbValueNo", !value);
}

// Field 24: the volume triples into IncentiveGrid and the Primary? boxes; the grid's rows bound the walk.
void readServiceVolumes(QWidget* w, const MainState& state, int bids) {
    ServicesPage* page = BidPages::of(w).services;
    StringGrid* grid = page ? page->incentiveGrid() : nullptr;
    forEachServiceRow(state, [&](int row, const QString& stem) {
        // Row 0 keeps its column headings; rows the grid lacks are not written.
        if (!grid || !page->isServiceRow(row)) return;
        // Numeric fields come right-aligned; the grid shows the number itself.
        grid->setCell(1, row, ta::fetch(bids, stem + QLatin1Char('1')).trimmed());
        grid->setCell(2, row, ta::fetch(bids, stem + QLatin1Char('2')).trimmed());
        if (QCheckBox* box = page->primaryBox(row)) box->setChecked(ta::tfetch(bids, stem + QLatin1Char('p')));
        page->rowTotal(row);
    });
    if (grid) grid->viewport()->update();
}

// Fields 25 to 45.
void readBidProfileAndCube(QWidget* w, const MainState& state, int bids) {
    applyRadio(w, "rgBidType", ta::fetch(bids, QStringLiteral("bid_type")));
    setTicked(w, "chbMultiOnly", ta::tfetch(bids, QStringLiteral("mult_only")));
    setTicked(w, "chbRegain", ta::fetch(bids, QStringLiteral("act_categ")) == QLatin1String("Regain"));
    if (auto* g = bidControl<CheckGroup>(w, "cgBillingOption"))
        ApplyCheckGroupText(g, ta::fetch(bids, QStringLiteral("bill_opt")));

    const char* competitors[] = {"cbxCompetitorName", "cbxCompetitorName2", "cbxCompetitorName3"};
    const QString competitorFields[] = {QStringLiteral("competr"), QStringLiteral("competr2"), QStringLiteral("competr3")};
    for (int i = 0; i < 3; ++i) {
        auto* c = bidControl<QComboBox>(w, competitors[i]);
        if (!c) continue;
        const QString name = ta::fetch(bids, competitorFields[i]);
        SelectComboText(c, name);
        if (c->currentIndex() < 0) c->setEditText(name);  // typed in when stored: typed text again
    }

    auto* broker = bidControl<QCheckBox>(w, "chbBroker");
    if (broker && !broker->isHidden())
        broker->setChecked(ta::tfetch(bids, QStringLiteral("broker")));
    else
        selectItem(w, "cbxBrokerage", ta::fetch(bids, QStringLiteral("brokerage")));

    selectItem(w, "cbxPLDTypes", ta::fetch(bids, QStringLiteral("PLD_type")));
    setText(w, "ebxAssociated", ta::fetch(bids, QStringLiteral("associated")));

    if (auto* c = bidControl<QComboBox>(w, "cbxCustSource")) {
        c->setCurrentIndex(-1);
        const int i = competitorSourceWords().indexOf(ta::fetch(bids, QStringLiteral("comp_src")));
        if (i >= 0 && i < c->count()) c->setCurrentIndex(i);
    }
    if (auto* c = bidControl<QComboBox>(w, "cbxSourceDist")) {
        c->setCurrentIndex(-1);
        const QString code = ta::fetch(bids, QStringLiteral("dist_src"));
        const int i = code.isEmpty() ? -1 : state.FDistSourceValues.indexOf(code);
        if (i >= 0 && i < state.FDistSourceTexts.size()) SelectComboText(c, state.FDistSourceTexts[i]);
    }
    if (auto* m = bidControl<QPlainTextEdit>(w, "mmoSalesStrategy")) {
        QString memo = ta::fetch(bids, QStringLiteral("sale_strat"));
        memo.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        m->setPlainText(memo);
    }
    applyRadio(w, "rgStrategy", ta::fetch(bids, QStringLiteral("strategy")));
    if (auto* c = bidControl<QComboBox>(w, "ebxBeatPercent")) {
        const QString beat = ta::fetch(bids, QStringLiteral("beat_by"));
        int found = -1;
        for (int i = 0; i < c->count() && found < 0; ++i)
            if (c->itemText(i).compare(beat, Qt::CaseInsensitive) == 0) found = i;
        c->setCurrentIndex(found);
        auto* strategy = bidControl<RadioGroup>(w, "rgStrategy");
        const bool enabled = strategy && strategy->itemIndex() == 0;
        c->setEnabled(enabled);
        if (auto* l = bidControl<QLabel>(w, "lblBeatPercent")) l->setEnabled(enabled);
    }
    setText(w, "ebxAverageCube", ta::fetch(bids, QStringLiteral("avg_cube")));

    if (auto* grid = bidControl<StringGrid>(w, "CubeGrid")) {
        const QStringList& prefixes = cubeFieldPrefixes();
        for (int n = 1; n <= 15 && n < grid->rowCount(); ++n)
            for (int c = 1; c <= prefixes.size() && c < grid->colCount(); ++c)
                grid->setCell(c, n, ta::fetch(bids, prefixes[c - 1] + QString::number(n)));
    }
    applyRadio(w, "rgInfoSource", ta::fetch(bids, QStringLiteral("info_src")));
    setText(w, "ebxPercentAH", ta::fetch(bids, QStringLiteral("ah_pct")));
    setText(w, "ebxAHPctComment", ta::fetch(bids, QStringLiteral("ah_percent")));
    applyRadio(w, "rgBillWeight", ta::fetch(bids, QStringLiteral("bill_wgt")));
}

// Step 10 and 11: the shipment grid set up afresh, then one line per detail record of the bid.
void readDetails(QWidget* w, const MainState& state, int tail, const QString& tailPath) {
    ShipmentPage* page = BidPages::of(w).shipment;
    if (!page || tail <= 0) return;
    StringGrid* grid = page->shipmentGrid();
    const bool hasFromPost = ta::TableHasField(tail, QStringLiteral("from_post"));
    const QString id = bidControl<QLineEdit>(w, "ebxLocalBidID") ? bidControl<QLineEdit>(w, "ebxLocalBidID")->text()
                                                                 : QString();
    const RecordMatches found = findRecords(tail, tailPath, QStringLiteral("local_bid"), id);
    const QStringList& fields = detailFieldNames();
    int line = 1;
    grid->beginUpdate();
    for (size_t k = 0; k < found.records.size(); ++k) {
        if (found.deleted[k]) continue;
        if (ta::d4go(tail, found.records[k]) != 0) continue;
        if (line > ShipmentPage::InitialLines) page->appendLine();
        for (int c = 1; c <= fields.size(); ++c) {
            if (c == ShipmentPage::ColFromPost && !hasFromPost) continue;
            grid->setCell(c, line, ta::fetch(tail, fields[c - 1]));
        }
        ++line;
    }
    grid->endUpdate();
    Q_UNUSED(state);
}

}  // namespace

QString ShownPostalCode(const QString& stored) {
    const QString code = stored.trimmed();
    return code.size() == 6 ? code.left(3) + QLatin1Char(' ') + code.right(3) : code;
}

void ApplyRadioText(RadioGroup* group, const QString& text) {
    if (!group) return;
    group->setItemIndex(-1);
    if (text.isEmpty()) return;
    for (int i = 0; i < group->count(); ++i) {
        if (group->itemText(i).left(text.size()) == text) {
            group->setItemIndex(i);
            return;
        }
    }
}

void ApplyCheckGroupText(CheckGroup* group, const QString& text) {
    if (!group) return;
    const int pieces = static_cast<int>(text.size()) / 3;
    for (int p = 0; p < pieces; ++p) {
        const QString piece = text.mid(p * 3, 3);
        for (int i = 0; i < group->count(); ++i)
            if (group->itemText(i).right(3) == piece) group->setItemChecked(i, true);
    }
}

void LoadBid(QWidget* mainWindow, MainState& state, int recNo) {
    if (auto* pages = bidControl<QTabWidget>(mainWindow, "tabEntryPages")) pages->setFocus();
    const std::unique_ptr<QObject> progress =
        showProgressWindow(mainWindow, QStringLiteral("File Read"), QStringLiteral("Reading Bid Information..."));
    state.FLoading = true;
    resetBidProfile(mainWindow);

    const int bids = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Bids")));
    if (bids <= 0) {
        state.FLoading = false;
        return;
    }
    const bool hasMob = ta::TableHasField(bids, QStringLiteral("m_o_b"));
    if (recNo < 1 || recNo > ta::d4recCountDo(bids) || ta::d4go(bids, recNo) != 0) {
        state.FLoading = false;
        ta::d4close(bids);
        return;
    }
    readMainAndShipper(mainWindow, bids, hasMob);
    readServiceVolumes(mainWindow, state, bids);
    readBidProfileAndCube(mainWindow, state, bids);
    ta::d4close(bids);

    // The grid is laid out after MOB has been set, so the From Post. column follows the loaded setting.
    if (ShipmentPage* page = BidPages::of(mainWindow).shipment) {
        auto* mob = bidControl<QCheckBox>(mainWindow, "chbMOB");
        page->showFromPostColumn(mob && mob->isChecked());
        page->setupGrid();
    }
    const QString tailPath = state.tablePath(QStringLiteral("BidTail"));
    const int tail = ta::mOpen(state.DataContext, tailPath);
    readDetails(mainWindow, state, tail, tailPath);
    state.FLoading = false;
    if (tail > 0) ta::d4close(tail);
}

}  // namespace tarvik
