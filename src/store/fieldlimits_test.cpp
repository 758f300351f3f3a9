#include "store/fieldlimits.h"

#include <QApplication>
#include <QClipboard>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

#include "store/bidwindow_test.h"
#include "store/storebid.h"

namespace tarvik {
namespace {

using test::BidWindowTest;
using test::ScriptedPrompt;

class FieldLimitsTest : public BidWindowTest {
  protected:
    void SetUp() override {
        BidWindowTest::SetUp();
        window_->show();
    }

    // Rewrites Bids with some fields narrower or wider (a delivered layout), then applies the limits.
    void narrowBids(const QHash<QString, int>& widths) {
        std::vector<test::FieldSpec> bids = demo::bidsLayout(demo::stemsOf(test::testServices()));
        for (test::FieldSpec& f : bids)
            if (widths.contains(f.name)) f.length = widths[f.name];
        ASSERT_TRUE(test::createTable(bidsPath(), bids));
    }

    // Types text into a grid cell the way the user does: the cell made current, keys on the grid, Enter.
    void typeIntoCell(StringGrid* grid, int col, int row, const QString& text) {
        grid->setCurrentCell(col, row, true);
        grid->setFocus();
        QTest::keyClicks(grid, text);
        QTest::keyClick(grid, Qt::Key_Return);
    }

    // The bid ID, status and an executive of a fresh bid.
    void openBid(const QString& id) {
        main->cbxAccountName->setCurrentIndex(0);
        main->ebxLocalBidID->setText(id);
        main->ebxLocalStatus->setText(QStringLiteral("Draft"));
    }
};

QString filled(int n) {
    QString s;
    for (int i = 0; i < n; ++i) s += QChar(u'a' + i % 26);
    return s;
}

// Typed and pasted text stops at the width of the field that stores it, as the table open now has it:
// edits, the competitor combos and the cells of the three grids, each with a text one past its field.
TEST_F(FieldLimitsTest, TypedAndPastedTextStopsAtTheFieldOfTheOpenTable) {
    narrowBids({{QStringLiteral("comp_name"), 12}});  // a delivered layout with a narrower company name
    ApplyFieldLimits(w(), state_);

    struct Edit {
        const char* what;
        QLineEdit* edit;
        QString typed;
        QString kept;
    };
    const QString competitor = filled(55);
    const Edit edits[] = {
        {"province", shipper->ebxProv(), QStringLiteral("Ontario"), QStringLiteral("On")},
        {"company name (12 in this layout)", main->ebxCompanyName1, filled(20), filled(12)},
        {"competitor", profile->cbxCompetitorName()->lineEdit(), competitor, competitor.left(40)},
        {"value for duty, N(4)", shipper->ebxValueDutyPct(), QStringLiteral("12345"), QStringLiteral("1234")},
        {"special handling comment", cube->ebxAHPctComment(), QStringLiteral("fragile, keep upright"),
         QStringLiteral("fragile, k")},
    };
    for (const Edit& e : edits) {
        SCOPED_TRACE(e.what);
        ASSERT_NE(e.edit, nullptr);
        e.edit->clear();
        e.edit->setFocus();
        QTest::keyClicks(e.edit, e.typed);
        EXPECT_EQ(e.edit->text(), e.kept);
        e.edit->clear();
        QApplication::clipboard()->setText(e.typed);
        e.edit->paste();
        EXPECT_EQ(e.edit->text(), QString()) << "a paste that does not fit is refused whole";
    }

    struct Cell {
        const char* what;
        StringGrid* grid;
        int col;
        int row;
        QString typed;
        QString kept;
    };
    const Cell cells[] = {
        {"competitor rate C(12)", shipGrid(), ShipmentPage::ColCmpRate, 1, QStringLiteral("1234567890123"),
         QStringLiteral("123456789012")},
        {"other description C(40)", shipGrid(), ShipmentPage::ColOtherDesc, 2, filled(50), filled(40)},
        {"length C(8)", cube->cubeGrid(), 1, 1, QStringLiteral("12345.678"), QStringLiteral("12345.67")},
        {"bidding on N(10)", volumeGrid(), 2, volumeRow("gndm"), QStringLiteral("123456789012"),
         QStringLiteral("1234567890")},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.what);
        typeIntoCell(c.grid, c.col, c.row, c.typed);
        EXPECT_EQ(c.grid->cell(c.col, c.row), c.kept);
    }
}

// A value put there by the program that does not fit (imported, or from before a narrower layout) is
// never cut: storing names the field and the line, writes nothing and says so.
TEST_F(FieldLimitsTest, AValueThatDoesNotFitStopsTheStoreBeforeAnythingIsWritten) {
    openBid(QStringLiteral("Fit1"));
    main->ebxCompanyName1->setText(QStringLiteral("Stored Before"));
    setLine(1, QStringLiteral("Express"), 1);
    ASSERT_TRUE(StoreBid(w(), state_));
    QFile bidsFile(bidsPath()), tailFile(tailPath());
    ASSERT_TRUE(bidsFile.open(QIODevice::ReadOnly) && tailFile.open(QIODevice::ReadOnly));
    const QByteArray bidsBefore = bidsFile.readAll(), tailBefore = tailFile.readAll();
    bidsFile.close();
    tailFile.close();

    main->ebxCompanyName1->setText(QStringLiteral("Changed Co"));
    shipper->ebxProv()->setText(QStringLiteral("Ontario"));
    setLine(2, QStringLiteral("Express"), 2);
    shipGrid()->setCell(ShipmentPage::ColOtherDesc, 2, filled(45));
    volumeGrid()->setCell(2, volumeRow("gndm"), QStringLiteral("12345678901"));
    shipper->ebxValueDutyPct()->setText(QStringLiteral("12345"));
    {
        ScriptedPrompt prompt;
        prompt.answer(Ok, [](const PromptRequest& r) {
            EXPECT_EQ(r.caption, "File Write");
            EXPECT_EQ(r.icon, PromptIcon::Warning);
            EXPECT_EQ(
                r.text,
                "Bid Fit1 cannot be stored: these values do not fit the bid tables.\r\n\r\n"
                "Province: 7 characters; the field keeps 2\r\n"
                "% of U.S. Business that has Value for Duty under $200: \"12345\" does not fit; the field "
                "keeps whole numbers of up to 4 digits\r\n"
                "Bidding On of Ground Multi: \"12345678901\" does not fit; the field keeps whole numbers of "
                "up "
                "to 10 digits\r\n"
                "Other Desc, shipment line 2: 45 characters; the field keeps 40\r\n\r\n"
                "Nothing was stored. Shorten them and try again.");
        });
        EXPECT_FALSE(StoreBid(w(), state_));
    }
    ASSERT_TRUE(bidsFile.open(QIODevice::ReadOnly) && tailFile.open(QIODevice::ReadOnly));
    EXPECT_EQ(bidsFile.readAll(), bidsBefore) << "the header keeps the values stored before";
    EXPECT_EQ(tailFile.readAll(), tailBefore);
    EXPECT_EQ(main->ebxCompanyName1->text(), "Changed Co") << "the window keeps what was typed";
    EXPECT_EQ(shipGrid()->cell(ShipmentPage::ColOtherDesc, 2), filled(45));
}

// Round trip of every text the window stores, at exactly its field's width, read back by python3-dbfread
// from the files; one character (or digit) past the width, nothing is stored and every such field is named.
TEST_F(FieldLimitsTest, ValuesAtTheWidthStoreWholeAndOnePastAreRefused) {
    if (!QFile::exists(QStringLiteral("/usr/bin/python3"))) GTEST_SKIP() << "no /usr/bin/python3";
    const FieldLimits header = readFieldLimits(state_, QStringLiteral("Bids"));
    const FieldLimits lines = readFieldLimits(state_, QStringLiteral("BidTail"));

    // Field -> how the window holds its text.
    using Setter = std::function<void(const QString&)>;
    auto edit = [](QLineEdit* e) { return Setter([e](const QString& v) { e->setText(v); }); };
    auto cell = [](StringGrid* g, int c, int r) {
        return Setter([g, c, r](const QString& v) { g->setCell(c, r, v); });
    };
    const std::vector<std::pair<QString, Setter>> headerFields = {
        {"comp_name", edit(main->ebxCompanyName1)},
        {"ssa_name", edit(main->cbxSSA)},
        {"ssa_email", edit(main->ebxSSAEmail)},
        {"asm_name", edit(main->cbxASM)},
        {"district", edit(main->cbxDistrict)},
        {"racf_id", edit(main->ebxRACFID)},
        {"ship_num", edit(shipper->ebxShipper())},
        {"address", edit(shipper->ebxAddress())},
        {"city", edit(shipper->ebxCity())},
        {"prov", edit(shipper->ebxProv())},
        {"perc_bus", edit(shipper->ebxBusiness())},
        {"commod", edit(shipper->ebxCommodity())},
        {"val_duty", edit(shipper->ebxValueDutyPct())},
        {"competr", edit(profile->cbxCompetitorName()->lineEdit())},
        {"competr2", edit(profile->cbxCompetitorName2()->lineEdit())},
        {"competr3", edit(profile->cbxCompetitorName3()->lineEdit())},
        {"associated", edit(profile->ebxAssociated())},
        {"avg_cube", edit(cube->ebxAverageCube())},
        {"ah_pct", edit(cube->ebxPercentAH())},
        {"ah_percent", edit(cube->ebxAHPctComment())},
        {"gndm1", cell(volumeGrid(), 1, volumeRow("gndm"))},
        {"gndm2", cell(volumeGrid(), 2, volumeRow("gndm"))},
        {"Length_1", cell(cube->cubeGrid(), 1, 1)},
        {"No_Pkgs_15", cell(cube->cubeGrid(), 4, 15)},
        {"Tot_Cube15", cell(cube->cubeGrid(), 6, 15)},
    };
    std::vector<std::pair<QString, Setter>> lineFields;
    const QStringList& detail = detailFieldNames();
    for (int c = 1; c <= detail.size(); ++c) lineFields.push_back({detail[c - 1], cell(shipGrid(), c, 1)});

    // A text of the field's width (its last character marks the end), or one past it; numbers as digits.
    auto value = [](const FieldLimit& l, int extra) {
        const int n = (l.type == 'C' ? l.length : l.length - (l.decimals > 0 ? l.decimals + 1 : 0)) + extra;
        QString s;
        for (int i = 0; i < n; ++i)
            s += l.type == 'C' ? QChar(i + 1 == n ? u'Z' : u'a' + i % 26) : QChar(u'1' + i % 9);
        return s;
    };

    for (int extra : {0, 1}) {  // the second bid gets a new ID, one past the width
        SCOPED_TRACE(extra == 0 ? "at the width" : "one past the width");
        const int idWidth = limitOf(header, QStringLiteral("local_bid")).length;
        openBid(value(FieldLimit{'C', idWidth, 0}, extra));
        for (const auto& [field, set] : headerFields) set(value(limitOf(header, field), extra));
        for (const auto& [field, set] : lineFields) set(value(limitOf(lines, field), extra));

        if (extra == 1) {
            const int expected = 2 + int(headerFields.size()) + int(lineFields.size());  // ID in both tables
            ScriptedPrompt prompt;
            prompt.answer(Ok, [&](const PromptRequest& r) {
                EXPECT_TRUE(
                    r.text.contains(QStringLiteral("\r\nLocal Bid ID: %1 characters; the field keeps %2\r\n")
                                        .arg(idWidth + 1)
                                        .arg(idWidth)))
                    << r.text.toStdString();
                EXPECT_TRUE(r.text.contains(QStringLiteral("... and %1 more").arg(expected - 12)))
                    << r.text.toStdString();
            });
            EXPECT_FALSE(StoreBid(w(), state_));
            EXPECT_EQ(test::recordCount(bidsPath()), 1) << "only the bid stored at the width";
            EXPECT_EQ(test::recordCount(tailPath()), 1);
            continue;
        }
        ASSERT_TRUE(StoreBid(w(), state_));
        QProcess p;
        const QString script = QStringLiteral(
            "import json, sys, dbfread\n"
            "h = [dict(r) for r in dbfread.DBF(sys.argv[1])]\n"
            "t = [dict(r) for r in dbfread.DBF(sys.argv[2])]\n"
            "s = lambda v: v if isinstance(v, str) else ('%d' % v if isinstance(v, int) else repr(v))\n"
            "print(json.dumps({'h': {k.lower(): s(v) for k, v in h[0].items() if v is not None},\n"
            "                  't': {k.lower(): s(v) for k, v in t[0].items() if v is not None},\n"
            "                  'n': [len(h), len(t)]}))\n");
        p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, bidsPath(), tailPath()});
        ASSERT_TRUE(p.waitForFinished(60000));
        const QByteArray err = p.readAllStandardError();
        if (err.contains("No module named 'dbfread'")) GTEST_SKIP() << "python3-dbfread is not installed";
        ASSERT_EQ(p.exitCode(), 0) << err.toStdString();
        const QJsonObject o = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        EXPECT_EQ(o["n"].toVariant().toList(), (QVariantList{1, 1}));
        const QJsonObject h = o["h"].toObject(), t = o["t"].toObject();
        EXPECT_EQ(h["local_bid"].toString(), main->ebxLocalBidID->text());
        EXPECT_EQ(t["local_bid"].toString(), main->ebxLocalBidID->text());
        for (const auto& [field, set] : headerFields)
            EXPECT_EQ(h[field.toLower()].toString(), value(limitOf(header, field), 0)) << field.toStdString();
        for (const auto& [field, set] : lineFields)
            EXPECT_EQ(t[field.toLower()].toString(), value(limitOf(lines, field), 0)) << field.toStdString();
    }
}

}  // namespace
}  // namespace tarvik
