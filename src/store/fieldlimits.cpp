#include "store/fieldlimits.h"

#include <QComboBox>
#include <QLineEdit>

#include "pages/cubepage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/bidtables.h"
#include "tableaccess/tableaccess.h"
#include "widgets/stringgrid.h"

namespace tarvik {

FieldLimits tableFieldLimits(int table) {
    FieldLimits limits;
    if (table <= 0) return limits;
    for (const ta::FieldInfo& f : ta::d4fieldInfo(table))
        limits.insert(f.name.trimmed().toLower(), FieldLimit{f.type, f.length, f.decimals});
    return limits;
}

FieldLimits readFieldLimits(const MainState& state, const QString& tableName) {
    const int t = ta::mOpen(state.DataContext, state.tablePath(tableName));
    if (t <= 0) return {};
    FieldLimits limits = tableFieldLimits(t);
    ta::d4close(t);
    return limits;
}

FieldLimit limitOf(const FieldLimits& limits, const QString& field) {
    return limits.value(field.toLower());
}

void ApplyFieldLimits(QWidget* mainWindow, const MainState& state) {
    if (!mainWindow) return;
    const FieldLimits header = readFieldLimits(state, QStringLiteral("Bids"));
    const FieldLimits lines = readFieldLimits(state, QStringLiteral("BidTail"));

    // The edits the user types into, each with the header field that stores its text. The postal code is
    // stored in a shortened form of its own and the read-only fields are filled by the program; storing
    // checks them.
    static const struct {
        const char* control;
        const char* field;
    } edits[] = {
        {"ebxCompanyName1", "comp_name"},
        {"ebxShipper", "ship_num"},
        {"ebxAddress", "address"},
        {"ebxCity", "city"},
        {"ebxProv", "prov"},
        {"ebxBusiness", "perc_bus"},
        {"ebxCommodity", "commod"},
        {"ebxValueDutyPct", "val_duty"},
        {"ebxAssociated", "associated"},
        {"ebxPercentAH", "ah_pct"},
        {"ebxAHPctComment", "ah_percent"},
        {"cbxCompetitorName", "competr"},
        {"cbxCompetitorName2", "competr2"},
        {"cbxCompetitorName3", "competr3"},
    };
    for (const auto& e : edits) {
        const FieldLimit limit = limitOf(header, QLatin1String(e.field));
        if (auto* edit = bidControl<QLineEdit>(mainWindow, e.control))
            limitLineEdit(edit, limit);
        else if (auto* combo = bidControl<QComboBox>(mainWindow, e.control); combo && combo->lineEdit())
            limitLineEdit(combo->lineEdit(), limit);
    }

    const BidPages pages = BidPages::of(mainWindow);
    if (pages.services && pages.services->incentiveGrid()) {
        ServicesPage* page = pages.services;
        page->incentiveGrid()->cellLimit = [page, header](int col, int row) {
            if ((col != 1 && col != 2) || !page->isServiceRow(row)) return FieldLimit{};
            return limitOf(header, page->dbfField(row) + QString::number(col));
        };
    }
    if (pages.cube && pages.cube->cubeGrid()) {
        pages.cube->cubeGrid()->cellLimit = [header](int col, int row) {
            const QStringList& prefixes = cubeFieldPrefixes();
            if (col < 1 || col > prefixes.size()) return FieldLimit{};
            return limitOf(header, prefixes[col - 1] + QString::number(row));
        };
    }
    if (pages.shipment && pages.shipment->shipmentGrid()) {
        pages.shipment->shipmentGrid()->cellLimit = [lines](int col, int) {
            const QStringList& fields = detailFieldNames();
            if (col < 1 || col > fields.size()) return FieldLimit{};
            return limitOf(lines, fields[col - 1]);
        };
    }
}

}  // namespace tarvik
