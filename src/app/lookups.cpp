#include "app/lookups.h"

#include <QAbstractItemView>
#include <QCollator>
#include <QComboBox>
#include <QFontMetrics>
#include <QLineEdit>
#include <QSet>
#include <QSignalBlocker>
#include <algorithm>

#include "tableaccess/tableaccess.h"
#include "tableedit/dbeditform.h"
#include "widgets/combohelpers.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

template <typename T>
T* control(QWidget* mainWindow, const char* name) {
    return mainWindow ? mainWindow->findChild<T*>(QLatin1String(name)) : nullptr;
}

// Sets the text a field shows, whatever kind of field the page made of it.
void setFieldText(QWidget* w, const QString& text) {
    if (auto* e = qobject_cast<QLineEdit*>(w)) {
        e->setText(text);
    } else if (auto* c = qobject_cast<QComboBox*>(w)) {
        const QSignalBlocker quiet(c);
        if (c->isEditable())
            c->setEditText(text);
        else
            SelectComboText(c, text);
    }
}

QString fieldText(QWidget* w) {
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentText();
    return QString();
}

// Walks every record of a table from the first; fn gets the open handle. False when it cannot be opened.
template <typename Fn>
bool forEachRecord(ta::DataContext ctx, const QString& path, Fn fn) {
    const int t = ta::mOpen(ctx, path);
    if (t <= 0) return false;
    if (ta::d4top(t) == 0) {
        do {
            fn(t);
        } while (ta::d4skip(t, 1) == 0);
    }
    ta::d4close(t);
    return true;
}

void refill(QComboBox* combo, const QStringList& items) {
    const QString remembered = combo->currentText();
    const QSignalBlocker quiet(combo);
    combo->clear();
    combo->addItems(items);
    SelectComboText(combo, remembered);
}

}  // namespace

QStringList ListFromTable(const QString& tablePath, const QString& field, ta::DataContext ctx) {
    QCollator collator;  // the user's locale
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    QStringList list;
    QSet<QString> seen;  // the texts met so far, case-folded: duplicates are found whatever the collator does
    forEachRecord(ctx, tablePath, [&](int t) {
        const QString text = ta::fetch(t, field);
        const QString folded = text.toCaseFolded();
        if (seen.contains(folded)) return;  // met already, letter case aside
        seen.insert(folded);
        auto at = std::upper_bound(list.begin(), list.end(), text, [&](const QString& a, const QString& b) {
            return collator.compare(a, b) < 0;
        });
        list.insert(at, text);
    });
    return list;
}

void LoadComboFromTable(QComboBox* combo, const QString& tablePath, const QString& field,
                        ta::DataContext ctx) {
    if (!combo) return;
    refill(combo, ListFromTable(tablePath, field, ctx));
}

void LoadServicesCombo(QComboBox* combo, const QString& tablePath, ta::DataContext ctx) {
    if (!combo) return;
    QStringList items{QString()};
    forEachRecord(ctx, tablePath, [&](int t) {
        QString s = ta::fetch(t, QStringLiteral("service")).trimmed();
        if (s.isEmpty()) return;
        const QString tail = s.right(6).trimmed();
        if (tail == QLatin1String("Single")) return;
        if (tail == QLatin1String("Multi")) s.chop(5);  // "Ground Multi" is listed as "Ground "
        items << s;
    });
    refill(combo, items);
}

void LoadCountryCombo(QComboBox* combo, const QString& tablePath, const QFont& font, ta::DataContext ctx) {
    if (!combo) return;
    const QFontMetrics fm(font);
    const int w = fm.horizontalAdvance(QString(7, QLatin1Char('N')));
    const int b = std::max(1, fm.horizontalAdvance(QLatin1Char(' ')));
    QStringList items;
    forEachRecord(ctx, tablePath, [&](int t) {
        const QString code = ta::fetch(t, QStringLiteral("code")).leftJustified(6, QLatin1Char(' '));
        const int blanks = (w - fm.horizontalAdvance(code)) / b;
        items << code + QString(std::max(0, blanks), QLatin1Char(' ')) + QStringLiteral("- ") +
                     ta::fetch(t, QStringLiteral("name"));
    });
    refill(combo, items);
}

void LoadReferenceLists(QWidget* mainWindow, MainState& state) {
    ta::DataContext ctx = state.DataContext;

    // 1. Account executives.
    if (auto* c = control<QComboBox>(mainWindow, "cbxAccountName")) {
        LoadComboFromTable(c, state.tablePath(QStringLiteral("AELookUp")), QStringLiteral("ae_name"), ctx);
        setFieldText(control<QWidget>(mainWindow, "ebxAccountName"),
                     c->currentIndex() >= 0 ? c->currentText() : QString());
    }
    // 2. Services.
    LoadServicesCombo(control<QComboBox>(mainWindow, "cbxServices"),
                      state.tablePath(QStringLiteral("Services")), ctx);
    // 3. Industries.
    LoadComboFromTable(control<QComboBox>(mainWindow, "cbxIndustry"),
                       state.tablePath(QStringLiteral("IndustryTypes")), QStringLiteral("industry"), ctx);
    // 4. Countries, lined up in the picker's own font (fixed-pitch where the page chose one).
    if (auto* c = control<QComboBox>(mainWindow, "cbxCountry")) {
        LoadCountryCombo(c, state.tablePath(QStringLiteral("Country")), c->font(), ctx);
    }
    // 5. Distribution sources and their codes: each text maps to the value of the first record with it.
    const QString dist = state.tablePath(QStringLiteral("DistributionSrc"));
    LoadComboFromTable(control<QComboBox>(mainWindow, "cbxSourceDist"), dist, QStringLiteral("dist_src"),
                       ctx);
    state.FDistSourceTexts.clear();
    state.FDistSourceValues.clear();
    forEachRecord(ctx, dist, [&](int t) {
        const QString text = ta::fetch(t, QStringLiteral("dist_src"));
        for (const QString& known : std::as_const(state.FDistSourceTexts))
            if (known.compare(text, Qt::CaseInsensitive) == 0) return;
        state.FDistSourceTexts << text;
        state.FDistSourceValues << ta::fetch(t, QStringLiteral("value"));
    });
    // 6. Ship methods.
    LoadComboFromTable(control<QComboBox>(mainWindow, "cbxPLDTypes"),
                       state.tablePath(QStringLiteral("PLDTypes")), QStringLiteral("pld_type"), ctx);
    // 7. The long drop-down lists show their items whole.
    if (mainWindow) {
        const int wide = QFontMetrics(mainWindow->font()).horizontalAdvance(QString(60, QLatin1Char('N')));
        for (const char* name : {"cbxCustSource", "cbxSourceDist"})
            if (auto* c = control<QComboBox>(mainWindow, name)) c->view()->setMinimumWidth(wide);
    }
}

void SyncShipmentPickers(QWidget* mainWindow) {
    auto* grid = control<StringGrid>(mainWindow, "ShipmentGrid");
    if (!grid) return;
    const int row = grid->row();
    if (auto* c = control<QComboBox>(mainWindow, "cbxServices")) SelectComboText(c, grid->cell(1, row));
    if (auto* c = control<QComboBox>(mainWindow, "cbxCountry")) SelectComboPrefix(c, grid->cell(6, row), 6);
}

void cbxAccountNameChange(QWidget* mainWindow, MainState& state, const std::function<void()>& newBid) {
    auto* combo = control<QComboBox>(mainWindow, "cbxAccountName");
    QWidget* ebxAccountName = control<QWidget>(mainWindow, "ebxAccountName");
    if (!combo || combo->currentIndex() < 0) {
        setFieldText(ebxAccountName, QString());
        return;
    }
    const QString chosen = combo->currentText();
    forEachRecord(state.DataContext, state.tablePath(QStringLiteral("AELookUp")), [&](int t) {
        if (ta::fetch(t, QStringLiteral("AE_Name")).compare(chosen, Qt::CaseInsensitive) != 0) return;
        setFieldText(control<QWidget>(mainWindow, "cbxSSA"), ta::fetch(t, QStringLiteral("SSA_Name")));
        setFieldText(control<QWidget>(mainWindow, "ebxSSAEmail"), ta::fetch(t, QStringLiteral("ssa_email")));
        setFieldText(control<QWidget>(mainWindow, "cbxASM"), ta::fetch(t, QStringLiteral("ASM_Name")));
        setFieldText(control<QWidget>(mainWindow, "cbxDistrict"), ta::fetch(t, QStringLiteral("District")));
        setFieldText(control<QWidget>(mainWindow, "ebxRACFID"), ta::fetch(t, QStringLiteral("racf_id")));
    });
    setFieldText(ebxAccountName, chosen);
    if (state.FNewBidGuard) return;
    state.FNewBidGuard = true;
    if (fieldText(control<QWidget>(mainWindow, "ebxLocalBidID")).isEmpty()) {
        if (messageDlg(QStringLiteral("Create new Bid?"), DialogKind::Confirmation, Yes | No) == Yes &&
            newBid)
            newBid();
    }
    state.FNewBidGuard = false;
}

void mnuSalesRefTableClick(QWidget* mainWindow, MainState& state) {
    {
        TDBeditForm form(mainWindow, state.FProgramFolder, state.FDataFolder, state.DataContext);
        form.SetTableName(QStringLiteral("AELookup"));
        form.exec();
    }
    LoadReferenceLists(mainWindow, state);
}

QString DistSourceValueFor(const MainState& state, const QString& text) {
    const int i = state.FDistSourceTexts.indexOf(text);
    return i >= 0 && i < state.FDistSourceValues.size() ? state.FDistSourceValues[i] : QString();
}

QString DistSourceTextFor(const MainState& state, const QString& value) {
    const int i = state.FDistSourceValues.indexOf(value);
    return i >= 0 && i < state.FDistSourceTexts.size() ? state.FDistSourceTexts[i] : QString();
}

}  // namespace tarvik
