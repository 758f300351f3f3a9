// A complete data folder for tests: every table of the program with small, known contents that hold
// every shape the program's rules care about.
//
//   QTemporaryDir tmp;
//   QString data = tarvik::test::makeDataFolder(tmp.path());   // tmp/data, the program folder is tmp
//
// Services (table order; row = IncentiveGrid row; "-" = heading row, no dbf_field = no grid row):
//   row 0  "-Domestic Services"            heading, the page's own heading (market D)
//   row 1  Ground         "Ground Multi"     gndm   code 20  D   (the picker item "Ground" finds it;
//                                                             one-piece lines count on the next row)
//   row 2  Ground Single  "Ground Single"    gnds   code 68  D
//   row 3  Economy        "Economy Ground"   econ   code 8   D
//   row 4  Express        "Express"          exp    code 1   D
//   row 5  Express PAK    "Express PAK"      exppak code 2   D
//   row 6  Express Letter "Express Letter"   explet code 3   D  letter
//   row 7  "-Transborder Services"           heading
//   row 8  TB Ground      "TB Ground"        tbgnd  code 30  S
//   row 9  TB Express     "TB Express"       tbexp  code 31  S
//   row 10 "-International Services"         heading
//   row 11 WW Express PAK "WW Express PAK"   wwpak  code 40  I
//   --     WW Express Pkg "WW Express Pkg"   (no dbf_field: no row)  code 40 I
//   row 12 WW Express Letter "WW Express Letter" wwlet code 41 I letter
//   row 13 WW Expedited  "WW Expedited"      wwexd  code 42  I
//   row 14 Residential   "Residential Surcharge" auto_gen code 0 D
//   --     (empty record: no description, no service)
// Account executives (AELookUp, in this order): "Anna Bell", "Carl O'Neil", "Dana Ruiz".
// IndustryTypes: Retail, retail, Apparel, Electronics. DistributionSrc (alphabetical): Catalogue/CAT,
// Retail Store/RET, Web Store/WEB. PLDTypes: Ground, Air, Courier. Country: CA, US, GB, FR, MX.
// POSTAL: K1A***, M5V***, H2X***, V6B***. USZIP: 10001, 90210, 60601.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

#include "demodata/tablemaker.h"

namespace tarvik::test {

struct DataFolderOptions {
    bool brokerage = true;        // Bids has `brokerage`
    bool mob = true;              // Bids has `m_o_b`
    bool fromPost = true;         // BidTail has `from_post`
    bool referenceTables = true;  // every reference table (false: only Bids and BidTail)
};

// Creates dir/data with every table (replacing any there) and returns the data folder's path.
// POSTAL.CDX and USZIP.CDX are not created (start-up makes them).
QString makeDataFolder(const QString& dir, const DataFolderOptions& options = {});

// The Services records of the test folder, in table order.
const std::vector<demo::ServiceRow>& testServices();
// The account executives of the test folder: {ae_name, SSA_Name, ssa_email, ASM_Name, District, racf_id}.
const std::vector<QStringList>& testExecutives();

// Shortcuts over demo:: for tests.
using demo::appendRows;
using demo::createTable;
using demo::fieldNames;
using demo::FieldSpec;
using demo::readColumn;
using demo::recordCount;
using demo::writeTable;

}  // namespace tarvik::test
