#include "submit/bidsummary.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHash>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <algorithm>

#include "pages/bidprofilepage.h"
#include "pages/choicegroups.h"
#include "pages/conversions.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "store/bidtables.h"
#include "submit/completeness.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"
#include "widgets/stringgridmodel.h"

namespace tarvik {

namespace {

QString yesNo(QWidget* w, const char* name) {
    auto* b = bidControl<QCheckBox>(w, name);
    return b && b->isChecked() ? QStringLiteral("Yes") : QStringLiteral("No");
}

// A question answered with a pair of boxes: "Yes", "No", or "Not answered" when neither is ticked.
QString answer(QWidget* w, const char* yes, const char* no) {
    auto* y = bidControl<QCheckBox>(w, yes);
    auto* n = bidControl<QCheckBox>(w, no);
    if (y && y->isChecked()) return QStringLiteral("Yes");
    if (n && n->isChecked()) return QStringLiteral("No");
    return QStringLiteral("Not answered");
}

// An item caption as read aloud: without its accelerator mark.
QString plainCaption(QString caption) {
    caption.replace(QStringLiteral("&&"), QStringLiteral("\x01"));
    caption.remove(QLatin1Char('&'));
    caption.replace(QStringLiteral("\x01"), QStringLiteral("&"));
    return caption;
}

QString radioText(QWidget* w, const char* name) {
    auto* g = bidControl<RadioGroup>(w, name);
    return g ? plainCaption(g->selectedText()) : QString();
}

bool shownControl(QWidget* w) {
    return w && !w->isHidden();
}

// The Main page: the bid's identity, the account executive and the sales team.
SummarySection mainSection(QWidget* w) {
    return {QStringLiteral("Bid and account executive"),
            {{QStringLiteral("Local Bid ID"), bidControlText(w, "ebxLocalBidID")},
             {QStringLiteral("Local Status"), bidControlText(w, "ebxLocalStatus")},
             {QStringLiteral("Submit Date"), bidControlText(w, "ebxSubmitDate")},
             {QStringLiteral("Portfolio Bid?"), yesNo(w, "chkPortfolio")},
             {QStringLiteral("Account Executive"), bidSelectedItem(w, "cbxAccountName")},
             {QStringLiteral("SSA"), bidControlText(w, "cbxSSA")},
             {QStringLiteral("SSA EMail ID"), bidControlText(w, "ebxSSAEmail")},
             {QStringLiteral("ASM"), bidControlText(w, "cbxASM")},
             {QStringLiteral("District"), bidControlText(w, "cbxDistrict")},
             {QStringLiteral("EMail ID"), bidControlText(w, "ebxRACFID")}}};
}

SummarySection shipperSection(QWidget* w) {
    SummarySection s{QStringLiteral("Company and shipper profile"),
                     {{QStringLiteral("Company Name"), bidControlText(w, "ebxCompanyName1")},
                      {QStringLiteral("Shipper #"), bidControlText(w, "ebxShipper")},
                      {QStringLiteral("Address"), bidControlText(w, "ebxAddress")},
                      {QStringLiteral("City"), bidControlText(w, "ebxCity")},
                      {QStringLiteral("Province"), bidControlText(w, "ebxProv")},
                      {QStringLiteral("Postal Code"), bidControlText(w, "ebxPostalCode")}}};
    if (shownControl(bidControl<QCheckBox>(w, "chbMOB")))
        s.fields.push_back({QStringLiteral("MOB"), yesNo(w, "chbMOB")});
    s.fields.push_back({QStringLiteral("% Business"), bidControlText(w, "ebxBusiness")});
    s.fields.push_back({QStringLiteral("Commodity"), bidControlText(w, "ebxCommodity")});
    s.fields.push_back({QStringLiteral("Industry"), bidSelectedItem(w, "cbxIndustry")});
    s.fields.push_back(
        {QStringLiteral("Reseller of VYN Services?"), answer(w, "chbResellerYes", "chbResellerNo")});
    s.fields.push_back(
        {QStringLiteral("Credit Card Eligibility Requested?"), answer(w, "chbValueYes", "chbValueNo")});
    s.fields.push_back({QStringLiteral("% of U.S. Business that has Value for Duty under $200"),
                        bidControlText(w, "ebxValueDutyPct")});
    return s;
}

SummarySection profileSection(QWidget* w) {
    SummarySection s{QStringLiteral("Bid profile"), {}};
    s.fields.push_back({QStringLiteral("Type of Bid"), radioText(w, "rgBidType")});
    s.fields.push_back({QStringLiteral("Regain"), yesNo(w, "chbRegain")});
    s.fields.push_back({QStringLiteral("Multi"), yesNo(w, "chbMultiOnly")});
    const char* competitors[] = {"cbxCompetitorName", "cbxCompetitorName2", "cbxCompetitorName3"};
    const char* ranks[] = {"Primary Competitor", "Secondary Competitor", "Tertiary Competitor"};
    for (int i = 0; i < 3; ++i) {
        auto* c = bidControl<QComboBox>(w, competitors[i]);
        s.fields.push_back({QLatin1String(ranks[i]), c ? BidProfilePage::competitorText(c) : QString()});
    }
    QStringList billing;
    if (auto* g = bidControl<CheckGroup>(w, "cgBillingOption"))
        for (int i = 0; i < g->count(); ++i)
            if (g->isItemChecked(i)) billing << plainCaption(g->itemText(i));
    s.fields.push_back({QStringLiteral("Freight Incentive Requested"), billing.join(QStringLiteral(", "))});
    auto* broker = bidControl<QCheckBox>(w, "chbBroker");
    if (shownControl(broker))
        s.fields.push_back({QStringLiteral("Customer using VYN Brokerage?"), yesNo(w, "chbBroker")});
    else
        s.fields.push_back({QStringLiteral("Brokerage Customer using"), bidSelectedItem(w, "cbxBrokerage")});
    s.fields.push_back({QStringLiteral("Primary Ship Method"), bidSelectedItem(w, "cbxPLDTypes")});
    s.fields.push_back({QStringLiteral("Associated company?"), bidControlText(w, "ebxAssociated")});
    s.fields.push_back({QStringLiteral("Source of competitor rates"), bidSelectedItem(w, "cbxCustSource")});
    s.fields.push_back(
        {QStringLiteral("Distribution information source"), bidSelectedItem(w, "cbxSourceDist")});
    QString strategy = radioText(w, "rgStrategy");
    auto* g = bidControl<RadioGroup>(w, "rgStrategy");
    if (g && g->itemIndex() == 0 && !bidControlText(w, "ebxBeatPercent").isEmpty())
        strategy += QStringLiteral(" by %1%").arg(bidControlText(w, "ebxBeatPercent"));
    s.fields.push_back({QStringLiteral("Strategy"), strategy});
    return s;
}

std::vector<ServiceVolume> serviceVolumes(QWidget* w) {
    std::vector<ServiceVolume> out;
    ServicesPage* page = BidPages::of(w).services;
    StringGrid* grid = page ? page->incentiveGrid() : nullptr;
    if (!grid) return out;
    // Row 0 carries the first heading in its label, followed by the "Primary?" caption.
    QString group = grid->cell(0, 0);
    const int primaryCaption = group.lastIndexOf(QLatin1String("Primary?"));
    if (primaryCaption >= 0) group.truncate(primaryCaption);
    group = group.trimmed();
    for (int r = 1; r < grid->rowCount(); ++r) {
        if (page->isHeadingRow(r)) {
            group = grid->cell(0, r).trimmed();
            continue;
        }
        if (!page->isServiceRow(r)) continue;
        ServiceVolume v;
        v.group = group;
        v.description = grid->cell(0, r).trimmed();
        v.otherVolume = grid->cell(1, r);
        v.biddingOn = grid->cell(2, r);
        v.totalVolume = grid->cell(3, r);
        QCheckBox* box = page->primaryBox(r);
        v.primary = box && box->isChecked();
        v.other = TextToDecimal(v.otherVolume);
        v.bidding = TextToDecimal(v.biddingOn);
        const bool any = !v.otherVolume.trimmed().isEmpty() || !v.biddingOn.trimmed().isEmpty() || v.primary;
        if (any) out.push_back(std::move(v));
    }
    return out;
}

void add(ShipmentTotals& t, double pieces, double weight, double rate, double total) {
    ++t.lines;
    t.pieces += pieces;
    t.weight += weight;
    t.competitorRate += rate;
    t.competitorTotal += total;
}

std::vector<ShipmentTotals> ranked(QHash<QString, ShipmentTotals>& groups) {
    std::vector<ShipmentTotals> out;
    out.reserve(static_cast<size_t>(groups.size()));
    for (auto it = groups.begin(); it != groups.end(); ++it) out.push_back(std::move(it.value()));
    std::sort(out.begin(), out.end(), [](const ShipmentTotals& a, const ShipmentTotals& b) {
        return a.lines != b.lines ? a.lines > b.lines : a.key < b.key;
    });
    return out;
}

}  // namespace

ShipmentDigest DigestShipmentLines(int lastLine,
                                   const std::function<const QString&(int col, int line)>& cell) {
    ShipmentDigest d;
    QHash<QString, ShipmentTotals> services;
    QHash<QString, ShipmentTotals> countries;
    std::vector<ShipmentLineSummary> lines;
    for (int n = 1; n <= lastLine; ++n) {
        bool empty = true;
        for (int c = ShipmentPage::ColService; c <= ShipmentPage::ColTotCmp && empty; ++c)
            empty = cell(c, n).isEmpty();
        if (empty) continue;
        const QString& service = cell(ShipmentPage::ColService, n);
        const QString& country = cell(ShipmentPage::ColCountry, n);
        const double pieces = TextToWhole(cell(ShipmentPage::ColTotPcs, n));
        const double weight = TextToDecimal(cell(ShipmentPage::ColTotWgt, n));
        const double rate = TextToDecimal(cell(ShipmentPage::ColCmpRate, n));
        const double total = TextToDecimal(cell(ShipmentPage::ColTotCmp, n));
        add(d.all, pieces, weight, rate, total);
        ShipmentTotals& s = services[service.trimmed()];
        s.key = service.trimmed();
        add(s, pieces, weight, rate, total);
        ShipmentTotals& c = countries[country.trimmed()];
        c.key = country.trimmed();
        add(c, pieces, weight, rate, total);
        lines.push_back({n, service, pieces, weight, cell(ShipmentPage::ColPostal, n), country, total});
    }
    d.byService = ranked(services);
    d.byCountry = ranked(countries);
    const size_t top = std::min<size_t>(10, lines.size());
    std::partial_sort(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(top), lines.end(),
                      [](const ShipmentLineSummary& a, const ShipmentLineSummary& b) {
                          return a.weight != b.weight ? a.weight > b.weight : a.line < b.line;
                      });
    d.heaviest.assign(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(top));
    return d;
}

BidSummary GatherBidSummary(MainState& state, QWidget* mainWindow) {
    BidSummary s;
    s.printedAt = Clock::current().now();
    s.bidId = bidControlText(mainWindow, "ebxLocalBidID");
    s.status = bidControlText(mainWindow, "ebxLocalStatus");
    s.submitDate = bidControlText(mainWindow, "ebxSubmitDate");
    s.company = bidControlText(mainWindow, "ebxCompanyName1");
    s.sections = {mainSection(mainWindow), shipperSection(mainWindow), profileSection(mainWindow)};
    if (auto* m = bidControl<QPlainTextEdit>(mainWindow, "mmoSalesStrategy"))
        s.salesStrategy = m->toPlainText();
    s.services = serviceVolumes(mainWindow);

    if (auto* grid = bidControl<StringGrid>(mainWindow, "ShipmentGrid")) {
        const StringGridModel* model = grid->gridModel();
        const int cols = model->gridColCount();
        static const QString none;
        ShipmentDigest d = DigestShipmentLines(
            model->gridRowCount() - 1,
            [model, cols](int c, int n) -> const QString& { return c < cols ? model->cellRef(c, n) : none; });
        s.allLines = std::move(d.all);
        s.byService = std::move(d.byService);
        s.byCountry = std::move(d.byCountry);
        s.heaviest = std::move(d.heaviest);
    }

    for (const BidProblem& p : ListBidProblems(state, mainWindow))
        s.problems.push_back({BidPageName(p.page), p.message});
    return s;
}

}  // namespace tarvik
