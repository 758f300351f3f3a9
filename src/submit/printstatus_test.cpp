// "&Print Status" on the six real pages: the summary window, its print and save commands through the
// print dialog and file chooser seams, and what lands on paper read back from the PDF with Debian's
// pdftotext (the text) and pdftoppm (the bar chart's pixels).
#include "submit/printstatus.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>

#include "store/bidwindow_test.h"
#include "store/datafolder.h"
#include "submit/summaryprint.h"
#include "widgets/seams.h"

namespace tarvik {
namespace {

using test::ScriptedFileChooser;
using test::ScriptedPrintDialog;
using test::ScriptedPrompt;

// The text of a PDF as pdftotext lays it out (columns kept on their lines).
QString pdfText(const QString& pdf, int page = 0) {
    QStringList args{QStringLiteral("-layout")};
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    args << pdf << QStringLiteral("-");
    QProcess p;
    p.start(QStringLiteral("pdftotext"), args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// Page `page` (1-based) of a PDF as an image of dpi dots per inch, rendered by pdftoppm.
QImage pdfPage(const QString& pdf, int page, int dpi, const QString& work) {
    const QString base = work + QStringLiteral("/page");
    QProcess p;
    p.start(QStringLiteral("pdftoppm"), {QStringLiteral("-png"), QStringLiteral("-r"), QString::number(dpi),
                                         QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"),
                                         QString::number(page), QStringLiteral("-singlefile"), pdf, base});
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    return QImage(base + QStringLiteral(".png"));
}

int pdfPages(const QString& pdf) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {pdf});
    EXPECT_TRUE(p.waitForFinished(60000));
    const QString info = QString::fromUtf8(p.readAllStandardOutput());
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : 0;
}

// The text with every run of blanks made one blank, so that table rows compare as words.
QString squeezed(QString text) {
    static const QRegularExpression blanks(QStringLiteral("[ \\t]+"));
    return text.replace(blanks, QStringLiteral(" "));
}

class PrintStatusTest : public test::BidWindowTest {
  protected:
    void SetUp() override {
        BidWindowTest::SetUp();
        CheckPostalIndexes(state_);
        clock_ = std::make_unique<test::FixedClock>(QDateTime(QDate(2026, 3, 14), QTime(9, 30)));
        ASSERT_TRUE(out_.isValid());
    }
    void TearDown() override {
        clock_.reset();
        BidWindowTest::TearDown();
    }

    void volume(const QString& stem, const QString& other, const QString& biddingOn) {
        const int r = volumeRow(stem);
        volumeGrid()->setCell(1, r, other);
        volumeGrid()->setCell(2, r, biddingOn);
        services->rowTotal(r);
    }
    void line(int r, const QString& service, const QString& pieces, const QString& weight,
              const QString& postal, const QString& country, const QString& rate, const QString& total) {
        while (shipGrid()->rowCount() <= r) shipment->appendLine();
        StringGrid* g = shipGrid();
        g->setCell(ShipmentPage::ColService, r, service);
        g->setCell(ShipmentPage::ColTotPcs, r, pieces);
        g->setCell(ShipmentPage::ColTotWgt, r, weight);
        g->setCell(ShipmentPage::ColPostal, r, postal);
        g->setCell(ShipmentPage::ColCountry, r, country);
        g->setCell(ShipmentPage::ColCmpRate, r, rate);
        g->setCell(ShipmentPage::ColTotCmp, r, total);
    }

    // A known bid, complete but for what a test spoils.
    void fillKnownBid() {
        main->ebxLocalBidID->setText(QStringLiteral("AnnaBell4609339583"));
        main->ebxLocalStatus->setText(QStringLiteral("Draft"));
        main->ebxCompanyName1->setText(QStringLiteral("Harbour Freight Traders"));
        main->cbxAccountName->setCurrentIndex(0);
        const QStringList& ae = test::testExecutives()[0];
        main->cbxSSA->setText(ae[1]);
        main->ebxSSAEmail->setText(ae[2]);
        main->cbxASM->setText(ae[3]);
        main->cbxDistrict->setText(ae[4]);
        main->ebxRACFID->setText(ae[5]);
        shipper->ebxAddress()->setText(QStringLiteral("12 Wharf Road"));
        shipper->ebxPostalCode()->setText(QStringLiteral("K1A 0B1"));
        shipper->ebxCity()->setText(QStringLiteral("Ottawa"));
        shipper->ebxProv()->setText(QStringLiteral("ON"));
        shipper->ebxBusiness()->setText(QStringLiteral("40"));
        shipper->ebxCommodity()->setText(QStringLiteral("Marine parts"));
        shipper->cbxIndustry()->setCurrentIndex(2);  // Retail
        shipper->chbResellerNo()->setChecked(true);
        shipper->chbValueYes()->setChecked(true);
        profile->findChild<RadioGroup*>(QStringLiteral("rgBidType"))->setItemIndex(1);  // Penetration
        profile->cbxCompetitorName()->setCurrentIndex(1);                               // FedEx
        profile->findChild<QComboBox*>(QStringLiteral("cbxCompetitorName2"))
            ->setEditText(QStringLiteral("Loomis Express"));
        profile->cbxBrokerage()->setCurrentIndex(4);  // Does not import
        profile->cbxPLDTypes()->setCurrentIndex(1);   // Courier
        profile->cbxCustSource()->setCurrentIndex(2);
        profile->cbxSourceDist()->setCurrentIndex(0);                                    // Catalogue
        profile->findChild<RadioGroup*>(QStringLiteral("rgStrategy"))->setItemIndex(1);  // Match Competitor
        cube->findChild<RadioGroup*>(QStringLiteral("rgInfoSource"))->setItemIndex(0);
        cube->findChild<RadioGroup*>(QStringLiteral("rgBillWeight"))->setItemIndex(1);
        profile->chbMultiOnly()->setChecked(true);
        auto* billing = profile->findChild<CheckGroup*>(QStringLiteral("cgBillingOption"));
        billing->setItemChecked(0, true);
        billing->setItemChecked(2, true);

        volume(QStringLiteral("gndm"), QStringLiteral("10"), QStringLiteral("5"));  // 15
        volume(QStringLiteral("exp"), QStringLiteral("20"), QStringLiteral("40"));  // 60
        volume(QStringLiteral("tbgnd"), QString(), QStringLiteral("25"));           // 25
        volume(QStringLiteral("wwpak"), QStringLiteral("7"), QString());            // 7, Other Volume only
        services->primaryBox(volumeRow(QStringLiteral("exp")))->setChecked(true);

        line(1, QStringLiteral("Ground"), QStringLiteral("2"), QStringLiteral("12.5"),
             QStringLiteral("K1A 0B1"), QStringLiteral("CA"), QStringLiteral("14.25"),
             QStringLiteral("16.75"));
        line(2, QStringLiteral("Express"), QStringLiteral("3"), QStringLiteral("40"), QStringLiteral("10001"),
             QStringLiteral("US"), QStringLiteral("55.10"), QStringLiteral("61.10"));
        line(3, QStringLiteral("Express"), QStringLiteral("1"), QStringLiteral("8"),
             QStringLiteral("M5V 2T6"), QStringLiteral("CA"), QStringLiteral("20.00"),
             QStringLiteral("22.50"));
        line(4, QStringLiteral("TB Ground"), QStringLiteral("5"), QStringLiteral("75"),
             QStringLiteral("90210"), QStringLiteral("US"), QStringLiteral("80.00"), QStringLiteral("88.00"));
        line(5, QStringLiteral("Ground"), QStringLiteral("1"), QStringLiteral("40"),
             QStringLiteral("H2X 1Y4"), QStringLiteral("CA"), QStringLiteral("9.75"),
             QStringLiteral("11.25"));
    }

    // "&Print Status" with the window driven while it is shown: run acts on it, then it is closed.
    void withPrintStatus(const std::function<void(TPrintStatusForm&)>& act) {
        bool shown = false;
        test::whenModalShown([&](QWidget* w) {
            auto* form = qobject_cast<TPrintStatusForm*>(w);
            ASSERT_NE(form, nullptr);
            shown = true;
            act(*form);
            form->btnClose->click();
        });
        mnuPrintStatusClick(state_, w());
        EXPECT_TRUE(shown);
    }

    // Saves the summary of the bid on screen as a PDF through "Save as &PDF..." and returns its path.
    QString savePdf(const QString& name = QStringLiteral("summary.pdf")) {
        const QString path = out_.filePath(name);
        ScriptedFileChooser files;
        files.next(path);
        withPrintStatus([](TPrintStatusForm& form) { form.btnSavePdf->click(); });
        EXPECT_EQ(files.saveRequests().size(), 1u);
        if (!files.saveRequests().empty()) {
            EXPECT_EQ(files.saveRequests()[0].caption, QStringLiteral("Save Bid Summary as PDF"));
            EXPECT_EQ(files.saveRequests()[0].defaultSuffix, QStringLiteral("pdf"));
            EXPECT_TRUE(
                files.saveRequests()[0].folder.endsWith(QStringLiteral("/AnnaBell4609339583 Summary.pdf")) ||
                main->ebxLocalBidID->text().isEmpty());
        }
        return path;
    }

    std::unique_ptr<test::FixedClock> clock_;
    QTemporaryDir out_;
};

TEST_F(PrintStatusTest, TheSavedPdfHoldsTheValuesOfTheBid) {
    fillKnownBid();
    const QString pdf = savePdf();
    ASSERT_TRUE(QFile::exists(pdf));
    const QString text = squeezed(pdfText(pdf));

    // Each entry is a run of words that must appear on one line of the PDF.
    const QStringList expected = {
        // Page 1: identity, company and shipper profile, team, bid profile
        "Local Bid ID AnnaBell4609339583",
        "Local Status Draft",
        "Harbour Freight Traders",
        "Address 12 Wharf Road",
        "City Ottawa",
        "Province ON",
        "Postal Code K1A 0B1",
        "% Business 40",
        "Commodity Marine parts",
        "Industry Retail",
        "Reseller of VYN Services? No",
        "Account Executive Anna Bell",
        "SSA Sam Price",
        "SSA EMail ID sam.price@vyn.example",
        "ASM Olga Marsh",
        "District Toronto",
        "EMail ID ABELL01",
        "Type of Bid Penetration",
        "Primary Competitor FedEx",
        "Secondary Competitor Loomis Express",
        "Freight Incentive Requested Pre Paid - P/P, Return Services - R/S",
        "Brokerage Customer using Does not import",
        "Primary Ship Method Courier",
        "Distribution information source Catalogue",
        "Strategy Match Competitor",
        // Services: three volumes and the primary mark
        "Express 20 40 60 Yes",
        "Ground Multi 10 5 15",
        "TB Ground 25 25",
        "WW Express PAK 7 7",
        // Shipment lines by service and by country, the totals and the heaviest lines
        "5 shipment lines: 12 pieces, total weight 175.50, competitor rates 179.10, total competitor charges "
        "199.60.",
        "Ground 2 3 52.50 24.00 28.00",
        "Express 2 4 48.00 75.10 83.60",
        "TB Ground 1 5 75.00 80.00 88.00",
        "CA 3 4 60.50 44.00 50.50",
        "US 2 8 115.00 135.10 149.10",
        "All lines 5 12 175.50 179.10 199.60",
        "The 5 heaviest lines",
        "#4 TB Ground 5 75.00 90210 US 88.00",
        "#2 Express 3 40.00 10001 US 61.10",
        "#5 Ground 1 40.00 H2X 1Y4 CA 11.25",
        "#1 Ground 2 12.50 K1A 0B1 CA 16.75",
        "#3 Express 1 8.00 M5V 2T6 CA 22.50",
        // Completeness: the known bid is complete
        "Result: ready to submit",
        // Header and footer
        "Printed 3/14/2026 09:30",
        "Page 1 of",
    };
    for (const QString& e : expected)
        EXPECT_TRUE(text.contains(e)) << e.toStdString() << "\n" << text.toStdString();
    // Two lines of equal weight are listed by line number: line 2 before line 5.
    EXPECT_LT(text.indexOf("#2 Express"), text.indexOf("#5 Ground"));
    // A service row without volume or mark is left out.
    EXPECT_FALSE(text.contains("Express Letter"));
}

// What the checks find is printed in their own words, each with the page that holds it.
TEST_F(PrintStatusTest, EveryMissingItemIsPrintedWithItsPage) {
    fillKnownBid();
    shipper->ebxBusiness()->clear();
    profile->cbxPLDTypes()->setCurrentIndex(-1);
    shipper->chbResellerNo()->setChecked(false);
    line(3, QStringLiteral("Express"), QStringLiteral("1"), QStringLiteral("8"), QStringLiteral("X9X 9X9"),
         QStringLiteral("CA"), QStringLiteral("20.00"), QStringLiteral("22.50"));
    const QString text = squeezed(pdfText(savePdf()));
    const QStringList expected = {
        "Result: 4 items to fix before the bid can be submitted",
        "Shipment Data Invalid Postal Code(s) found:",
        "Ship. #3 X9X 9X9",
        "Shipper Profile '% Business' must be entered.",
        "Bid Profile Must select 'Primary Ship Method'.",
        "Shipper Profile Select 'Yes' or 'No' for 'Reseller of VYN Services'",
    };
    qsizetype at = 0;
    for (const QString& e : expected) {
        const qsizetype found = text.indexOf(e, at);
        EXPECT_GE(found, 0) << e.toStdString() << " (in this order)\n" << text.toStdString();
        if (found >= 0) at = found;
    }
    EXPECT_FALSE(text.contains("ready to submit"));
}

// Nothing typed is cut on paper: long values and a long sales strategy wrap onto further lines and pages.
TEST_F(PrintStatusTest, LongValuesWrapAndAreNeverCut) {
    fillKnownBid();
    QStringList words;
    for (int i = 1; i <= 900; ++i) words << QStringLiteral("word%1").arg(i);
    profile->mmoSalesStrategy()->setPlainText(words.mid(0, 450).join(' ') + "\n" + words.mid(450).join(' '));
    const QString longName = QStringLiteral(
        "Harbour Freight Traders of the Upper Ottawa Valley and the Lower St. Lawrence Seaway Incorporated");
    main->ebxCompanyName1->setText(longName);
    const QString unbroken(150, QLatin1Char('Q'));
    shipper->ebxCommodity()->setText(unbroken);
    const QString pdf = savePdf();
    const QString text = pdfText(pdf);
    const QStringList found = text.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
    const QSet<QString> seen(found.begin(), found.end());
    for (const QString& w : words) EXPECT_TRUE(seen.contains(w)) << w.toStdString();
    for (const QString& w : longName.split(' ')) EXPECT_TRUE(seen.contains(w)) << w.toStdString();
    // The unbroken value is split across lines, every letter kept.
    EXPECT_EQ(QString(text).remove(QRegularExpression(QStringLiteral("[^Q]"))).size() >= unbroken.size(),
              true);
    EXPECT_GE(pdfPages(pdf), 2);
}

// The chart's bars: the area is not blank, one bar per service with volume, longest first, each as long
// as its weekly volume (Bidding On and Other Volume together) on one scale.
TEST_F(PrintStatusTest, TheChartsBarsAreInTheOrderOfTheVolumes) {
    fillKnownBid();
    std::vector<std::pair<QString, double>> bars;
    QRectF area;
    int chartPage = -1;
    const QString pdf = out_.filePath(QStringLiteral("chart.pdf"));
    ScriptedFileChooser files;
    files.next(pdf);
    withPrintStatus([&](TPrintStatusForm& form) {
        bars = form.document().chartBars();
        area = form.document().chartArea();
        chartPage = form.document().chartPage();
        form.btnSavePdf->click();
    });
    const std::vector<std::pair<QString, double>> expected = {
        {"Express", 60}, {"TB Ground", 25}, {"Ground Multi", 15}, {"WW Express PAK", 7}};
    EXPECT_EQ(bars, expected);
    ASSERT_GE(chartPage, 0);

    constexpr int dpi = 144;
    const QImage page = pdfPage(pdf, chartPage + 1, dpi, out_.path());
    ASSERT_FALSE(page.isNull());
    const double k = dpi / 720.0;  // tenths of a point to pixels
    const QRect chart(qRound(area.left() * k), qRound(area.top() * k), qRound(area.width() * k),
                      qRound(area.height() * k));
    // Not blank: the chart area holds coloured pixels.
    int coloured = 0;
    auto isBar = [](QRgb p) { return qBlue(p) > qRed(p) + 40; };
    for (int y = chart.top(); y <= chart.bottom(); ++y)
        for (int x = chart.left(); x <= chart.right(); ++x) coloured += isBar(page.pixel(x, y)) ? 1 : 0;
    EXPECT_GT(coloured, chart.width() * chart.height() / 20);

    // Each bar's length along the middle of its row.
    const double pitch = chart.height() / double(bars.size());
    std::vector<int> lengths;
    for (size_t i = 0; i < bars.size(); ++i) {
        const int y = qRound(chart.top() + (i + 0.5) * pitch);
        int right = chart.left() - 1;
        for (int x = chart.left(); x <= chart.right(); ++x)
            if (isBar(page.pixel(x, y))) right = x;
        lengths.push_back(right - chart.left() + 1);
    }
    // Longest first, and as long as their volumes on one scale (the longest bar sets it).
    ASSERT_GT(lengths[0], chart.width() / 2);
    for (size_t i = 1; i < bars.size(); ++i) {
        EXPECT_LT(lengths[i], lengths[i - 1]) << "bar " << i;
        const double expectedLength = lengths[0] * expected[i].second / expected[0].second;
        EXPECT_NEAR(lengths[i], expectedLength, 3.0)
            << "bar " << i << " of " << expected[i].first.toStdString();
    }
}

// "&Print..." shows the print dialog with the page count and prints on the printer chosen there; Cancel
// prints nothing, and Cancel in the save dialog writes nothing.
TEST_F(PrintStatusTest, PrintingGoesThroughThePrintDialogAndCancelDoesNothing) {
    fillKnownBid();
    ScriptedPrintDialog dialog;
    dialog.pdfPath = out_.filePath(QStringLiteral("printed.pdf"));
    int pages = 0;
    withPrintStatus([&](TPrintStatusForm& form) {
        pages = form.document().pageCount();
        // The preview shows every page.
        for (int p = 1; p <= pages; ++p)
            EXPECT_NE(form.findChild<QLabel*>(QStringLiteral("lblPage%1").arg(p)), nullptr) << p;
        dialog.accept = false;
        EXPECT_FALSE(form.btnPrintClick());
        EXPECT_FALSE(QFile::exists(dialog.pdfPath));
        dialog.accept = true;
        form.btnPrint->click();
    });
    ASSERT_EQ(dialog.pageCounts.size(), 2u);
    EXPECT_EQ(dialog.pageCounts[1], pages);
    ASSERT_TRUE(QFile::exists(dialog.pdfPath));
    EXPECT_EQ(pdfPages(dialog.pdfPath), pages);
    EXPECT_TRUE(squeezed(pdfText(dialog.pdfPath)).contains("Local Bid ID AnnaBell4609339583"));

    ScriptedFileChooser files;
    files.next(QString());  // the user cancels the save dialog
    withPrintStatus([](TPrintStatusForm& form) { EXPECT_FALSE(form.btnSavePdfClick()); });
    EXPECT_EQ(QDir(out_.path()).entryList({QStringLiteral("*.pdf")}, QDir::Files),
              QStringList{"printed.pdf"});
}

// A file that cannot be written is reported, never passed over.
TEST_F(PrintStatusTest, APdfThatCannotBeWrittenIsReported) {
    fillKnownBid();
    const QString notAFolder = out_.filePath(QStringLiteral("plain-file"));
    {
        QFile f(notAFolder);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString path = notAFolder + QStringLiteral("/summary.pdf");
    ScriptedFileChooser files;
    files.next(path);
    ScriptedPrompt prompt;
    prompt.answer(Ok, [&](const PromptRequest& r) {
        EXPECT_EQ(r.caption, QStringLiteral("Print Status"));
        EXPECT_EQ(r.icon, PromptIcon::Error);
        EXPECT_EQ(r.text, QStringLiteral("The bid summary could not be written to %1.")
                              .arg(QDir::toNativeSeparators(path)));
    });
    withPrintStatus([](TPrintStatusForm& form) { EXPECT_FALSE(form.btnSavePdfClick()); });
    EXPECT_EQ(prompt.shown().size(), 1u);
}

// The summary is of the window as it is: printing moves neither the page in front nor the focus, and
// changes no control.
TEST_F(PrintStatusTest, PrintingLeavesTheWindowAsItWas) {
    fillKnownBid();
    shipper->ebxBusiness()->clear();  // a check that fails would bring its page to the front
    tabs->setCurrentIndex(4);
    const QString before = main->ebxCompanyName1->text();
    withPrintStatus([](TPrintStatusForm& form) { EXPECT_GE(form.document().pageCount(), 1); });
    EXPECT_EQ(tabs->currentIndex(), 4);
    EXPECT_EQ(main->ebxCompanyName1->text(), before);
    EXPECT_TRUE(shipper->ebxBusiness()->text().isEmpty());
}

}  // namespace
}  // namespace tarvik
