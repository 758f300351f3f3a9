#include "testsupport/testdata.h"

#include <QDir>
#include <QFile>

namespace tarvik::test {

using demo::ServiceRow;

const std::vector<ServiceRow>& testServices() {
    static const std::vector<ServiceRow> rows = {
        {"", "-Domestic Services", "", 0, "", false, "D"},
        {"Ground", "Ground Multi", "gndm", 20, "GND", false, "D"},
        {"Ground Single", "Ground Single", "gnds", 68, "GND", false, "D"},
        {"Economy", "Economy Ground", "econ", 8, "ECO", false, "D"},
        {"Express", "Express", "exp", 1, "EXP", false, "D"},
        {"Express PAK", "Express PAK", "exppak", 2, "EXP", false, "D"},
        {"Express Letter", "Express Letter", "explet", 3, "EXP", true, "D"},
        {"", "-Transborder Services", "", 0, "", false, "S"},
        {"TB Ground", "TB Ground", "tbgnd", 30, "GND", false, "S"},
        {"TB Express", "TB Express", "tbexp", 31, "EXP", false, "S"},
        {"", "-International Services", "", 0, "", false, "I"},
        {"WW Express PAK", "WW Express PAK", "wwpak", 40, "WWX", false, "I"},
        {"WW Express Pkg", "WW Express Pkg", "", 40, "WWX", false, "I"},
        {"WW Express Letter", "WW Express Letter", "wwlet", 41, "WWX", true, "I"},
        {"WW Expedited", "WW Expedited", "wwexd", 42, "WWD", false, "I"},
        {"Residential", "Residential Surcharge", "auto_gen", 0, "", false, "D"},
        {"", "", "", 0, "", false, ""},
    };
    return rows;
}

const std::vector<QStringList>& testExecutives() {
    static const std::vector<QStringList> rows = {
        {"Anna Bell", "Sam Price", "sam.price@vyn.example", "Olga Marsh", "Toronto", "ABELL01"},
        {"Carl O'Neil", "Sam Price", "sam.price@vyn.example", "Olga Marsh", "Ottawa", "CONEIL2"},
        {"Dana Ruiz", "Lee Wong", "lee.wong@vyn.example", "Paul Grant", "Vancouver", "DRUIZ03"},
    };
    return rows;
}

namespace {

void check(bool ok, const QString& what, const QString& error) {
    if (!ok) qFatal("test data folder: %s: %s", qPrintable(what), qPrintable(error));
}

void table(const QString& data, const QString& name, const std::vector<FieldSpec>& layout,
           const std::vector<QStringList>& rows) {
    QString error;
    check(writeTable(data + QLatin1Char('/') + name, layout, rows, &error), name, error);
}

}  // namespace

QString makeDataFolder(const QString& dir, const DataFolderOptions& o) {
    const QString data = dir + QStringLiteral("/data");
    QDir(data).removeRecursively();
    check(QDir().mkpath(data), data, QStringLiteral("cannot create the folder"));

    table(data, QStringLiteral("Bids.dbf"),
          demo::bidsLayout(demo::stemsOf(testServices()), o.brokerage, o.mob), {});
    table(data, QStringLiteral("BidTail.dbf"), demo::bidTailLayout(o.fromPost), {});
    if (!o.referenceTables) return data;

    std::vector<QStringList> services;
    for (const auto& s : testServices()) services.push_back(demo::serviceValues(s));
    table(data, QStringLiteral("Services.dbf"), demo::servicesLayout(), services);
    table(data, QStringLiteral("AELookUp.dbf"), demo::aeLookUpLayout(), testExecutives());
    table(data, QStringLiteral("District.dbf"), demo::districtLayout(),
          {{"Toronto"}, {"Ottawa"}, {"Vancouver"}, {"Montreal"}});
    table(data, QStringLiteral("IndustryTypes.dbf"), demo::industryLayout(),
          {{"Retail"}, {"retail"}, {"Apparel"}, {"Electronics"}});
    table(data, QStringLiteral("DistributionSrc.dbf"), demo::distSourceLayout(),
          {{"Catalogue", "CAT"}, {"Retail Store", "RET"}, {"Web Store", "WEB"}});
    table(data, QStringLiteral("PLDTypes.dbf"), demo::pldTypesLayout(), {{"Ground"}, {"Air"}, {"Courier"}});
    table(data, QStringLiteral("Country.dbf"), demo::countryLayout(),
          {{"CA", "Canada"},
           {"US", "United States"},
           {"GB", "United Kingdom"},
           {"FR", "France"},
           {"MX", "Mexico"}});
    table(data, QStringLiteral("POSTAL.dbf"), demo::postalLayout(),
          {{"K1A***", "OTTAWA"}, {"M5V***", "TORONTO"}, {"H2X***", "MONTREAL"}, {"V6B***", "VANCOUVER"}});
    table(data, QStringLiteral("USZIP.dbf"), demo::usZipLayout(),
          {{"10001", "New York", "NY"}, {"90210", "Beverly Hills", "CA"}, {"60601", "Chicago", "IL"}});
    return data;
}

}  // namespace tarvik::test
