// Imported shipment lines survive storing the bid and loading it again.
#include <QFile>

#include "pages/conversions.h"
#include "shiptools/importdata.h"
#include "store/bidwindow_test.h"
#include "store/datafolder.h"
#include "store/lifecycle.h"
#include "store/loadbid.h"
#include "store/storebid.h"

namespace tarvik {
namespace {

using namespace tarvik::test;
using P = ShipmentPage;

class ImportStoreTest : public BidWindowTest {};

TEST_F(ImportStoreTest, ImportedLinesComeBackAfterStoringAndLoading) {
    CheckPostalIndexes(state_);
    main->ebxLocalBidID->setText(QStringLiteral("Import1"));
    shipper->chbMOB()->setChecked(true);
    const QString file = tmp_.path() + "/lines.txt";
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("Express,2,10,M5V 3L9,K1A 0B1,CA,12.50,1.25,0,0,fuel,0\r\n"
                "TB Ground\t3\t7\t\t90210\tUS\t8\t\t\t\tresidential\r\n"
                "Ground,1,1,H2X 1Y4,V6B 1A1,CA,3.10\r\n");
    }
    ScriptedFileChooser files;
    files.next(file);
    ScriptedPrompt prompt;
    ShipmentImport importer(state_, *shipment, w());
    importer.btnImportClick();
    ASSERT_FALSE(shipment->lineIsEmpty(3));
    ASSERT_TRUE(shipment->lineIsEmpty(4));

    std::vector<QStringList> imported;
    for (int r = 1; r <= 3; ++r) {
        QStringList cells;
        for (int c = P::ColService; c <= P::ColTotCmp; ++c) cells << shipGrid()->cell(c, r);
        imported.push_back(cells);
    }

    StoreBid(w(), state_);
    ClearBidWindow(w(), state_);
    ASSERT_TRUE(shipment->gridIsEmpty());
    LoadBid(w(), state_, 1);

    for (int r = 1; r <= 3; ++r) {
        for (int c = P::ColService; c <= P::ColTotCmp; ++c) {
            const QString want = imported[r - 1][c - 1];
            const QString got = shipGrid()->cell(c, r);
            if ((c >= P::ColCmpRate && c <= P::ColScOther) || c == P::ColTotCmp)
                EXPECT_DOUBLE_EQ(TextToDecimal(got), TextToDecimal(want)) << "line " << r << " column " << c;
            else if (c == P::ColFromPost || c == P::ColPostal)
                EXPECT_EQ(got, ShownPostalCode(StoredPostalCode(want))) << "line " << r << " column " << c;
            else
                EXPECT_EQ(got, want) << "line " << r << " column " << c;
        }
    }
    EXPECT_TRUE(shipment->lineIsEmpty(4));
}

}  // namespace
}  // namespace tarvik
