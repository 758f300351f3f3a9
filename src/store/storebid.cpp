#include "store/storebid.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/conversions.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/bidtables.h"
#include "store/fieldlimits.h"
#include "tableaccess/tableaccess.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

QString text(QWidget* w, const char* name) {
    return bidControlText(w, name);
}

// The text of the selected list item; empty when none is selected.
QString selectedItem(QWidget* w, const char* name) {
    return bidSelectedItem(w, name);
}

// The name under which the user knows a header field: the caption of its control.
QString headerFieldLabel(const QString& field) {
    static const QHash<QString, QString> labels = {
        {QStringLiteral("local_bid"), QStringLiteral("Local Bid ID")},
        {QStringLiteral("loc_stat"), QStringLiteral("Local Status")},
        {QStringLiteral("comp_name"), QStringLiteral("Company Name")},
        {QStringLiteral("ae_name"), QStringLiteral("Account Executive Name")},
        {QStringLiteral("ssa_name"), QStringLiteral("SSA")},
        {QStringLiteral("ssa_email"), QStringLiteral("SSA EMail ID")},
        {QStringLiteral("asm_name"), QStringLiteral("ASM")},
        {QStringLiteral("district"), QStringLiteral("District")},
        {QStringLiteral("racf_id"), QStringLiteral("EMail ID")},
        {QStringLiteral("ship_num"), QStringLiteral("Shipper #")},
        {QStringLiteral("address"), QStringLiteral("Address")},
        {QStringLiteral("city"), QStringLiteral("City")},
        {QStringLiteral("prov"), QStringLiteral("Province")},
        {QStringLiteral("postal"), QStringLiteral("Postal Code")},
        {QStringLiteral("perc_bus"), QStringLiteral("% Business")},
        {QStringLiteral("commod"), QStringLiteral("Commodity")},
        {QStringLiteral("industry"), QStringLiteral("Industry")},
        {QStringLiteral("val_duty"), QStringLiteral("% of U.S. Business that has Value for Duty under $200")},
        {QStringLiteral("bid_type"), QStringLiteral("Type of Bid")},
        {QStringLiteral("act_categ"), QStringLiteral("Regain")},
        {QStringLiteral("bill_opt"), QStringLiteral("Type of Freight Incentive Requested")},
        {QStringLiteral("competr"), QStringLiteral("Primary Competitor Name")},
        {QStringLiteral("competr2"), QStringLiteral("Secondary Competitor Name")},
        {QStringLiteral("competr3"), QStringLiteral("Tertiary Competitor Name")},
        {QStringLiteral("brokerage"), QStringLiteral("Brokerage Customer using")},
        {QStringLiteral("pld_type"), QStringLiteral("Primary Ship method with VYN")},
        {QStringLiteral("associated"), QStringLiteral("Associated company?")},
        {QStringLiteral("comp_src"), QStringLiteral("Source of competitor rates")},
        {QStringLiteral("dist_src"), QStringLiteral("Distribution information source")},
        {QStringLiteral("strategy"), QStringLiteral("Strategy")},
        {QStringLiteral("beat_by"), QStringLiteral("% Beat")},
        {QStringLiteral("avg_cube"), QStringLiteral("Average Cube")},
        {QStringLiteral("info_src"), QStringLiteral("Source of Information")},
        {QStringLiteral("ah_pct"), QStringLiteral("% of volume requiring special handling")},
        {QStringLiteral("ah_percent"), QStringLiteral("special handling comment")},
        {QStringLiteral("bill_wgt"), QStringLiteral("Entered Billable Weights reflect?")},
    };
    return labels.value(field.toLower(), field);
}

// The writes of one store into one table. Each failed call has been reported by the table layer; the
// writer remembers that one failed, so that the store as a whole is not taken for a success.
//
// With limits set, the writer writes nothing: it only checks that every text it is given fits its field,
// and lists the ones that do not (the values storing would cut).
struct Writer {
    int table = 0;
    bool ok = true;
    const FieldLimits* limits = nullptr;
    QStringList* misfits = nullptr;

    bool checking() const { return limits != nullptr; }
    void check(int rc) {
        if (rc != 0) ok = false;
    }
    void verify(const QString& field, const QString& value, const QString& label) {
        const QString why = FieldMisfit(value, limitOf(*limits, field));
        if (!why.isEmpty() && misfits)
            *misfits << (label.isEmpty() ? headerFieldLabel(field) : label) + QStringLiteral(": ") + why;
    }
    void text(const QString& field, const QString& value, const QString& label = QString()) {
        if (checking())
            verify(field, value, label);
        else
            check(ta::replace(table, field, value));
    }
    void logical(const QString& field, bool value) {
        if (!checking()) check(ta::treplace(table, field, value));
    }
    void whole(const QString& field, int value) {
        if (checking())
            verify(field, QString::number(value), QString());
        else
            check(ta::ireplace(table, field, value));
    }
    void decimal(const QString& field, double value) {
        if (!checking()) check(ta::dreplace(table, field, value));
    }
    void date(const QString& field, const QDate& value) {
        if (!checking()) check(ta::dtreplace(table, field, value));
    }
};

bool ticked(QWidget* w, const char* name) {
    auto* b = bidControl<QCheckBox>(w, name);
    return b && b->isChecked();
}

QString radioText(QWidget* w, const char* name) {
    auto* g = bidControl<RadioGroup>(w, name);
    return g ? g->selectedText() : QString();
}

// Fields 2 to 24: the Main and Shipper Profile pages.
void writeMainAndShipper(QWidget* w, Writer& out, bool hasMob) {
    const QString submitDate = text(w, "ebxSubmitDate");
    if (submitDate.isEmpty()) {
        out.text(QStringLiteral("subm_date"), QString());
    } else {
        // Only dates the window itself showed are put there; a text that is not one leaves the stored date.
        const QDate date = textToDate(submitDate.trimmed());
        if (date.isValid()) out.date(QStringLiteral("subm_date"), date);
    }
    out.text(QStringLiteral("loc_stat"), text(w, "ebxLocalStatus"));
    out.logical(QStringLiteral("portf_bid"), ticked(w, "chkPortfolio"));
    out.text(QStringLiteral("comp_name"), text(w, "ebxCompanyName1"));
    out.text(QStringLiteral("ae_name"), selectedItem(w, "cbxAccountName"));
    out.text(QStringLiteral("ssa_name"), text(w, "cbxSSA"));
    out.text(QStringLiteral("ssa_email"), text(w, "ebxSSAEmail"));
    out.text(QStringLiteral("asm_name"), text(w, "cbxASM"));
    out.text(QStringLiteral("district"), text(w, "cbxDistrict"));
    out.text(QStringLiteral("racf_id"), text(w, "ebxRACFID"));
    out.text(QStringLiteral("ship_num"), text(w, "ebxShipper"));
    out.text(QStringLiteral("address"), text(w, "ebxAddress"));
    out.text(QStringLiteral("city"), text(w, "ebxCity"));
    out.text(QStringLiteral("prov"), text(w, "ebxProv"));
    if (hasMob) out.logical(QStringLiteral("m_o_b"), ticked(w, "chbMOB"));
    out.text(QStringLiteral("postal"), StoredPostalCode(text(w, "ebxPostalCode")));
    out.text(QStringLiteral("perc_bus"), text(w, "ebxBusiness"));
    out.text(QStringLiteral("commod"), text(w, "ebxCommodity"));
    out.text(QStringLiteral("industry"), selectedItem(w, "cbxIndustry"));
    out.logical(QStringLiteral("resell_vyn"), ticked(w, "chbResellerYes"));
    out.whole(QStringLiteral("val_duty"), TextToWhole(text(w, "ebxValueDutyPct")));
    out.logical(QStringLiteral("val_model"), ticked(w, "chbValueYes"));
    out.text(QStringLiteral("val_saving"), QString());
}

// Field 25: one volume triple per service row of IncentiveGrid, walking Services as the grid was laid
// out. A row the grid (or its Primary? boxes) does not have is not read, nor is the heading row 0.
void writeServiceVolumes(QWidget* w, const MainState& state, Writer& out) {
    ServicesPage* page = BidPages::of(w).services;
    StringGrid* grid = page ? page->incentiveGrid() : nullptr;
    if (out.checking()) {
        // The rows as the page laid them out from Services, without reading the table again.
        for (int row = 1; grid && row < grid->rowCount(); ++row) {
            if (!page->isServiceRow(row)) continue;
            const QString service = grid->cell(0, row).trimmed();
            for (int col : {1, 2})
                out.text(page->dbfField(row) + QString::number(col), grid->cell(col, row),
                         (col == 1 ? QStringLiteral("Other Volume of ") : QStringLiteral("Bidding On of ")) +
                             service);
        }
        return;
    }
    const bool walked = forEachServiceRow(state, [&](int row, const QString& stem) {
        // Only rows the page shows as service rows hold volumes: row 0 carries the column headings
        // whatever record falls on it, and a row the grid lacks is not read.
        if (!grid || !page->isServiceRow(row)) return;
        out.text(stem + QLatin1Char('1'), grid->cell(1, row));
        out.text(stem + QLatin1Char('2'), grid->cell(2, row));
        QCheckBox* box = page->primaryBox(row);
        out.logical(stem + QLatin1Char('p'), box && box->isChecked());
    });
    if (!walked) out.ok = false;  // the volumes were not stored (reported by the table layer)
}

// Fields 26 to 41: the Bid Profile page and the average cube.
void writeBidProfile(QWidget* w, const MainState& state, Writer& out) {
    out.text(QStringLiteral("bid_type"), radioText(w, "rgBidType"));
    out.logical(QStringLiteral("mult_only"), ticked(w, "chbMultiOnly"));
    out.text(QStringLiteral("act_categ"), ticked(w, "chbRegain") ? QStringLiteral("Regain") : QString());

    QString billing;
    if (auto* g = bidControl<CheckGroup>(w, "cgBillingOption"))
        for (int i = 0; i < g->count(); ++i)
            if (g->isItemChecked(i)) billing += g->itemText(i).right(3);
    out.text(QStringLiteral("bill_opt"), billing);

    const char* competitors[] = {"cbxCompetitorName", "cbxCompetitorName2", "cbxCompetitorName3"};
    const QString competitorFields[] = {QStringLiteral("competr"), QStringLiteral("competr2"), QStringLiteral("competr3")};
    for (int i = 0; i < 3; ++i) {
        auto* c = bidControl<QComboBox>(w, competitors[i]);
        out.text(competitorFields[i], c ? BidProfilePage::competitorText(c) : QString());
    }

    auto* broker = bidControl<QCheckBox>(w, "chbBroker");
    if (broker && !broker->isHidden())
        out.logical(QStringLiteral("broker"), broker->isChecked());
    else
        out.text(QStringLiteral("brokerage"), selectedItem(w, "cbxBrokerage"));

    out.text(QStringLiteral("PLD_type"), selectedItem(w, "cbxPLDTypes"));
    out.text(QStringLiteral("associated"), text(w, "ebxAssociated"));

    auto* custSource = bidControl<QComboBox>(w, "cbxCustSource");
    const int source = custSource ? custSource->currentIndex() : -1;
    out.text(QStringLiteral("comp_src"), source >= 0 && source < competitorSourceWords().size()
                                             ? competitorSourceWords()[source]
                                             : QString());

    // The code of the distribution source is the one that belongs to the picker's text (the picker is
    // sorted by name, the codes are kept in table order).
    QString distCode;
    const QString distText = selectedItem(w, "cbxSourceDist");
    if (!distText.isEmpty()) {
        const int i = state.FDistSourceTexts.indexOf(distText);
        if (i >= 0 && i < state.FDistSourceValues.size()) distCode = state.FDistSourceValues[i];
    }
    out.text(QStringLiteral("dist_src"), distCode);

    QString strategyText;
    if (auto* m = bidControl<QPlainTextEdit>(w, "mmoSalesStrategy")) {
        strategyText = m->toPlainText();
        strategyText.replace(QLatin1Char('\n'), QStringLiteral("\r\n"));
    }
    out.text(QStringLiteral("sale_strat"), strategyText);

    auto* strategy = bidControl<RadioGroup>(w, "rgStrategy");
    QString word = strategy ? strategy->selectedText() : QString();
    const int blank = word.indexOf(QLatin1Char(' '));
    if (blank >= 0) word.truncate(blank);
    out.text(QStringLiteral("strategy"), word);
    const bool beat = strategy && strategy->itemIndex() == 0;
    out.text(QStringLiteral("beat_by"), beat ? text(w, "ebxBeatPercent") : QString());

    out.text(QStringLiteral("avg_cube"), text(w, "ebxAverageCube"));
}

// Fields 42 to 46: the cube grid and the rest of the Cube Analysis page.
void writeCube(QWidget* w, Writer& out) {
    auto* grid = bidControl<StringGrid>(w, "CubeGrid");
    const QStringList& prefixes = cubeFieldPrefixes();
    for (int n = 1; n <= 15; ++n)
        for (int c = 1; c <= prefixes.size(); ++c)
            out.text(prefixes[c - 1] + QString::number(n),
                     grid && n < grid->rowCount() && c < grid->colCount() ? grid->cell(c, n) : QString(),
                     (grid && c < grid->colCount() ? grid->cell(c, 0).trimmed() : prefixes[c - 1]) +
                         QStringLiteral(", Pkg #%1").arg(n));
    out.text(QStringLiteral("info_src"), radioText(w, "rgInfoSource"));
    out.text(QStringLiteral("ah_pct"), text(w, "ebxPercentAH"));
    out.text(QStringLiteral("ah_percent"), text(w, "ebxAHPctComment"));
    out.text(QStringLiteral("bill_wgt"), radioText(w, "rgBillWeight"));
}

// svc_code, svc_level, letter, market and daily_vol of a line from its Services record.
void writeServiceFields(Writer& out, int services, int bids, const QString& service) {
    if (services <= 0 || !ta::LocateByField(services, QStringLiteral("service"), false, service)) {
        for (const char* f : {"svc_code", "svc_level", "letter", "market"})
            out.text(QLatin1String(f), QString());
        out.decimal(QStringLiteral("daily_vol"), 0.0);
        return;
    }
    for (const char* f : {"svc_code", "svc_level", "letter", "market"})
        out.text(QLatin1String(f), ta::fetch(services, QLatin1String(f)));
    QString stem = ta::fetch(services, QStringLiteral("dbf_field")).trimmed();
    if (stem.isEmpty() && ta::d4skip(services, -1) == 0)  // a record without volumes takes those before it
        stem = ta::fetch(services, QStringLiteral("dbf_field")).trimmed();
    double daily = 0;
    if (!stem.isEmpty())
        daily = (ta::dfetch(bids, stem + QLatin1Char('1')) + ta::dfetch(bids, stem + QLatin1Char('2'))) / 5.0;
    out.decimal(QStringLiteral("daily_vol"), daily);
}

// Step 10 and 11: the shipment lines. False when a line could not be stored whole.
bool writeDetails(QWidget* w, const MainState& state, int bids, const QString& id) {
    ShipmentPage* page = BidPages::of(w).shipment;
    StringGrid* grid = page ? page->shipmentGrid() : bidControl<StringGrid>(w, "ShipmentGrid");
    const int services = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Services")));
    const QString tailPath = state.tablePath(QStringLiteral("BidTail"));
    Writer out{ta::mOpen(state.DataContext, tailPath)};
    if (out.table > 0) {
        const int tail = out.table;
        const bool hasFromPost = ta::TableHasField(tail, QStringLiteral("from_post"));
        // The bid's present detail records, in table order: reused one by one, then lines are appended.
        const RecordMatches existing = findRecords(tail, tailPath, QStringLiteral("local_bid"), id);
        size_t used = 0;
        bool appending = false;
        const QStringList& fields = detailFieldNames();
        const int rows = grid ? grid->rowCount() : 0;
        for (int r = 1; r < rows; ++r) {
            const QString service = grid->cell(ShipmentPage::ColService, r);
            if (service.isEmpty()) continue;
            if (!appending && used < existing.records.size()) {
                if (ta::d4go(tail, existing.records[used]) != 0) {
                    out.ok = false;
                    continue;
                }
                // A record of the bid marked deleted takes the line back: it must not be packed away.
                if (existing.deleted[used]) out.check(ta::d4recall(tail));
                ++used;
            } else {
                appending = true;
                if (ta::d4appendBlank(tail) != 0) {
                    out.ok = false;
                    continue;
                }
                out.text(QStringLiteral("local_bid"), id);
            }
            for (int c = 1; c <= fields.size(); ++c) {
                if (c == 1) writeServiceFields(out, services, bids, service);
                if (c == ShipmentPage::ColFromPost && !hasFromPost) continue;
                out.text(fields[c - 1], grid->cell(c, r));
            }
        }
        if (!appending) {
            bool deletedNow = false;
            for (size_t k = used; k < existing.records.size(); ++k) {
                if (ta::d4go(tail, existing.records[k]) != 0) {
                    out.ok = false;
                    continue;
                }
                out.check(ta::d4delete(tail));
                deletedNow = true;
            }
            // Packing a table without deleted records would only copy it.
            if (deletedNow || existing.anyDeleted) out.check(ta::d4pack(tail));
        }
        out.check(ta::d4close(tail));
    } else {
        out.ok = false;  // reported by the table layer
    }
    if (services > 0) ta::d4close(services);
    return out.ok;
}

// Every value the store would write, checked against the fields of the tables as they are open: the
// list of those that do not fit (empty when all do). Nothing is written. False when BidTail cannot be
// opened (reported by the table layer): then nothing can be stored whole.
bool misfitValues(QWidget* w, const MainState& state, int bids, bool hasMob, const QString& id,
                  QStringList& misfits) {
    const FieldLimits header = tableFieldLimits(bids);
    Writer check{bids, true, &header, &misfits};
    check.text(QStringLiteral("local_bid"), id);
    writeMainAndShipper(w, check, hasMob);
    writeServiceVolumes(w, state, check);
    writeBidProfile(w, state, check);
    writeCube(w, check);

    const FieldLimits lines = readFieldLimits(state, QStringLiteral("BidTail"));
    if (lines.isEmpty()) return false;
    ShipmentPage* page = BidPages::of(w).shipment;
    StringGrid* grid = page ? page->shipmentGrid() : bidControl<StringGrid>(w, "ShipmentGrid");
    Writer detail{0, true, &lines, &misfits};
    const QStringList& fields = detailFieldNames();
    for (int r = 1; grid && r < grid->rowCount(); ++r) {
        if (grid->cell(ShipmentPage::ColService, r).isEmpty()) continue;  // not stored
        const QString line = QStringLiteral(", shipment line %1").arg(r);
        detail.text(QStringLiteral("local_bid"), id, headerFieldLabel(QStringLiteral("local_bid")) + line);
        for (int c = 1; c <= fields.size() && c < grid->colCount(); ++c)
            detail.text(fields[c - 1], grid->cell(c, r), grid->cell(c, 0).trimmed() + line);
    }
    return true;
}

void reportMisfits(const QString& id, const QStringList& misfits) {
    constexpr int kShown = 12;
    QStringList shown = misfits.mid(0, kShown);
    if (misfits.size() > kShown) shown << QStringLiteral("... and %1 more").arg(misfits.size() - kShown);
    messageBox(
        QStringLiteral("Bid %1 cannot be stored: these values do not fit the bid tables.").arg(id.trimmed()) +
            QStringLiteral("\r\n\r\n") + shown.join(QStringLiteral("\r\n")) +
            QStringLiteral("\r\n\r\nNothing was stored. Shorten them and try again."),
        QStringLiteral("File Write"), PromptIcon::Warning, Ok);
}

}  // namespace

QString StoredPostalCode(const QString& text) {
    const QString code = text.trimmed().toUpper();
    if (code.size() <= 5) return code;
    return code.left(3).trimmed() + code.right(3).trimmed();
}

namespace {

// The bid's header and lines into the tables; true when every write went through.
bool storeBidTables(QWidget* mainWindow, MainState& state, const QString& id) {
    std::unique_ptr<QObject> progress = showProgressWindow(mainWindow, QStringLiteral("File Write"),
                                                           QStringLiteral("Storing Bid Information..."));

    Writer out{ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Bids")))};
    if (out.table <= 0) return false;  // reported by the table layer
    const int bids = out.table;
    const bool hasMob = ta::TableHasField(bids, QStringLiteral("m_o_b"));
    // A value that does not fit would be cut: nothing is written, and the user learns which. Nor is a
    // header written whose lines cannot be.
    QStringList misfits;
    if (!misfitValues(mainWindow, state, bids, hasMob, id, misfits) || !misfits.isEmpty()) {
        ta::d4close(bids);
        progress.reset();
        if (!misfits.isEmpty()) reportMisfits(id, misfits);
        return false;
    }
    const RecordMatches header =
        findRecords(bids, state.tablePath(QStringLiteral("Bids")), QStringLiteral("local_bid"), id);
    bool ready = false;
    if (!header.records.empty()) {
        ready = ta::d4go(bids, header.records.front()) == 0;
        if (ready && header.deleted.front())
            out.check(ta::d4recall(bids));  // stored again: not a deleted one
    } else if (ta::d4appendBlank(bids) == 0) {
        out.text(QStringLiteral("local_bid"), id);
        // The new header goes to disk with its ID at once, so that an interrupted store leaves it findable.
        ready = out.ok && ta::d4go(bids, ta::d4recNo(bids)) == 0;
    }
    bool linesStored = false;
    if (ready) {
        writeMainAndShipper(mainWindow, out, hasMob);
        writeServiceVolumes(mainWindow, state, out);
        writeBidProfile(mainWindow, state, out);
        writeCube(mainWindow, out);
        linesStored = writeDetails(mainWindow, state, bids, id);
    }
    out.check(ta::d4close(bids));
    return ready && out.ok && linesStored;
}

}  // namespace

bool StoreBid(QWidget* mainWindow, MainState& state) {
    const QString id = text(mainWindow, "ebxLocalBidID");
    if (id.trimmed().isEmpty()) return true;
    const BidStoreEvents& events = bidStoreEvents();
    if (events.beforeStore) events.beforeStore(mainWindow, id);
    const bool stored = storeBidTables(mainWindow, state, id);
    if (events.afterStore) events.afterStore(mainWindow, id, stored);
    return stored;
}

}  // namespace tarvik
