#include "demodata/demofolder.h"

#include <QDir>
#include <QFile>

namespace tarvik::demo {

std::vector<QStringList> readCsv(const QString& path, QStringList* header) {
    std::vector<QStringList> rows;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return rows;
    const QString text = QString::fromUtf8(f.readAll());
    QStringList row;
    QString cell;
    bool quoted = false;
    bool any = false;
    auto endRow = [&]() {
        if (any || !cell.isEmpty() || !row.isEmpty()) {
            row << cell;
            rows.push_back(row);
        }
        row.clear();
        cell.clear();
        any = false;
    };
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text[i + 1] == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            any = true;
        } else if (c == QLatin1Char(',')) {
            row << cell;
            cell.clear();
            any = true;
        } else if (c == QLatin1Char('\n')) {
            endRow();
        } else if (c != QLatin1Char('\r')) {
            cell += c;
            any = true;
        }
    }
    endRow();
    if (!rows.empty()) {
        if (header) *header = rows.front();
        rows.erase(rows.begin());
    }
    return rows;
}

const std::vector<ServiceRow>& demoServices() {
    // The first record is a heading: its description is the heading of the Services page.
    static const std::vector<ServiceRow> rows = {
        {"", "-Canadian Domestic Services", "", 0, "", false, "D"},
        // Ground's multi-piece record carries the plain short name, so the picker item "Ground" finds it;
        // a one-piece line is counted on the single-piece record that follows.
        {"Ground", "Ground Multi", "gndm", 20, "GND", false, "D"},
        {"Ground Single", "Ground Single", "gnds", 68, "GND", false, "D"},
        {"Economy", "Economy Ground (3-7 days)", "econ", 8, "ECO", false, "D"},
        {"Express 9AM", "Express 9:00 AM", "exp9", 11, "EXP", false, "D"},
        {"Express 10:30", "Express 10:30 AM", "exp10", 12, "EXP", false, "D"},
        {"Express", "Express (end of day)", "exp", 13, "EXP", false, "D"},
        {"Express PAK", "Express PAK", "exppak", 14, "EXP", false, "D"},
        {"Express Pkg", "Express Pkg (in PAK pricing)", "", 14, "EXP", false, "D"},
        {"Express Letter", "Express Letter", "explet", 15, "EXP", true, "D"},
        {"Expedited", "Expedited (2 days)", "expd", 16, "EXD", false, "D"},
        {"", "-Transborder Services (Canada to USA)", "", 0, "", false, "S"},
        {"TB Ground", "TB Ground", "tbgnd", 30, "GND", false, "S"},
        {"TB Express", "TB Express", "tbexp", 31, "EXP", false, "S"},
        {"TB Express PAK", "TB Express PAK", "tbpak", 32, "EXP", false, "S"},
        {"TB Express Letter", "TB Express Letter", "tblet", 33, "EXP", true, "S"},
        {"TB Expedited", "TB Expedited", "tbexd", 34, "EXD", false, "S"},
        {"", "-International Services", "", 0, "", false, "I"},
        {"WW Express", "WW Express", "wwexp", 40, "WWX", false, "I"},
        {"WW Express PAK", "WW Express PAK", "wwpak", 41, "WWX", false, "I"},
        {"WW Express Pkg", "WW Express Pkg (in PAK pricing)", "", 41, "WWX", false, "I"},
        {"WW Express Letter", "WW Express Letter", "wwlet", 42, "WWX", true, "I"},
        {"WW Expedited", "WW Expedited", "wwexd", 43, "WWD", false, "I"},
        {"", "-Accessorial Charges", "", 0, "", false, "D"},
        {"Residential", "Residential Delivery (generated)", "auto_gen", 0, "", false, "D"},
        {"Freight", "Freight over 150 lb (quoted separately)", "", 90, "FRT", false, "D"},
    };
    return rows;
}

namespace {

const std::vector<QStringList>& demoExecutives() {
    // ae_name, SSA_Name, ssa_email, ASM_Name, District, racf_id
    static const std::vector<QStringList> rows = {
        {"Amelia Tremblay", "Gordon Lavoie", "gordon.lavoie@vyn.example", "Hélène Gagnon", "Montreal",
         "ATREMB1"},
        {"Benoit Roy", "Gordon Lavoie", "gordon.lavoie@vyn.example", "Hélène Gagnon", "Montreal", "BROY002"},
        {"Chloe Martin", "Priya Nair", "priya.nair@vyn.example", "Daniel Smith", "Toronto", "CMARTI3"},
        {"David O'Brien", "Priya Nair", "priya.nair@vyn.example", "Daniel Smith", "Toronto", "DOBRIE4"},
        {"Emily Chen", "Priya Nair", "priya.nair@vyn.example", "Daniel Smith", "Toronto", "ECHEN05"},
        {"Farid Haddad", "Karen Walsh", "karen.walsh@vyn.example", "Daniel Smith", "Ottawa", "FHADDA6"},
        {"Grace MacLeod", "Ian Fraser", "ian.fraser@vyn.example", "Mary Johnston", "Halifax", "GMACLE7"},
        {"Harpreet Singh", "Tom Baker", "tom.baker@vyn.example", "Rachel Klein", "Calgary", "HSINGH8"},
        {"Isabelle Cote", "Gordon Lavoie", "gordon.lavoie@vyn.example", "Hélène Gagnon", "Quebec City",
         "ICOTE09"},
        {"Jacob Wilson", "Tom Baker", "tom.baker@vyn.example", "Rachel Klein", "Winnipeg", "JWILSO1"},
        {"Kelly Nguyen", "Linda Park", "linda.park@vyn.example", "Rachel Klein", "Vancouver", "KNGUYE2"},
        {"Liam Anderson", "Linda Park", "linda.park@vyn.example", "Rachel Klein", "Vancouver", "LANDER3"},
    };
    return rows;
}

bool isLetter(QChar c) {
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z');
}
bool isVowel(QChar c) {
    return QStringLiteral("AEIOUY").contains(c);
}

}  // namespace

QString repairTown(const QString& town) {
    // The source lost the accented capitals of some French place names (each became U+FFFD). Put back the
    // letter the name calls for: I-circumflex in ILE, O-circumflex in COTE and JEROME, C-cedilla,
    // A-circumflex in GRACE and CHATEAU, E-grave before a closing consonant and E (RIVIERE, THERESE,
    // LAMEQUE), else E-acute.
    const QChar lost(0xFFFD);
    if (!town.contains(lost)) return town;
    QString t = town;
    auto after = [&](qsizetype i, const char* text) { return t.mid(i + 1).startsWith(QLatin1String(text)); };
    auto before = [&](qsizetype i, const char* text) { return t.left(i).endsWith(QLatin1String(text)); };
    for (qsizetype i = 0; i < t.size(); ++i) {
        if (t[i] != lost) continue;
        const bool wordStart = i == 0 || !isLetter(t[i - 1]);
        QChar c(0x00C9);  // E acute
        if (wordStart && after(i, "LE"))
            c = QChar(0x00CE);
        else if (before(i, "C") && after(i, "TE"))
            c = QChar(0x00D4);
        else if (before(i, "R") && after(i, "ME"))
            c = QChar(0x00D4);
        else if (after(i, "OIS") || after(i, "ORES"))
            c = QChar(0x00C7);
        else if (after(i, "CE") || after(i, "TEAU"))
            c = QChar(0x00C2);
        else if (after(i, "QUE"))
            c = QChar(0x00C8);
        else {
            qsizetype k = i + 1;
            int consonants = 0;
            while (k < t.size() && isLetter(t[k]) && !isVowel(t[k])) ++k, ++consonants;
            if (k < t.size() && t[k] == QLatin1Char('E')) {
                ++k;
                if (k < t.size() && t[k] == QLatin1Char('S')) ++k;  // RIVIERES
            } else {
                consonants = 0;
            }
            const bool closing = consonants >= 1 && consonants <= 2 && (k == t.size() || !isLetter(t[k]));
            if (closing) c = QChar(0x00C8);
        }
        t[i] = c;
    }
    return t;
}

namespace {

std::vector<QStringList> oneColumn(std::initializer_list<const char*> values) {
    std::vector<QStringList> rows;
    for (const char* v : values) rows.push_back({QString::fromUtf8(v)});
    return rows;
}

}  // namespace

bool buildDemoFolder(const QString& csvFolder, const QString& target, QString* error) {
    if (!QDir().mkpath(target)) {
        if (error) *error = QStringLiteral("%1: the folder cannot be created").arg(target);
        return false;
    }
    auto path = [&](const char* name) { return target + QLatin1Char('/') + QLatin1String(name); };
    auto csv = [&](const char* name, int columns, std::vector<QStringList>& rows) {
        const QString p = csvFolder + QLatin1Char('/') + QLatin1String(name);
        rows = readCsv(p);
        for (const auto& r : rows)
            if (r.size() < columns) {
                if (error) *error = QStringLiteral("%1: a row has fewer than %2 columns").arg(p).arg(columns);
                return false;
            }
        if (rows.empty() && error) *error = QStringLiteral("%1: no rows (missing or empty file)").arg(p);
        return !rows.empty();
    };

    std::vector<QStringList> fsa, countries, zips;
    if (!csv("ca_fsa.csv", 2, fsa) || !csv("countries.csv", 2, countries) || !csv("us_zip.csv", 3, zips))
        return false;

    std::vector<QStringList> services;
    for (const auto& s : demoServices()) services.push_back(serviceValues(s));

    std::vector<QStringList> postal;
    postal.reserve(fsa.size());
    for (const auto& r : fsa)
        postal.push_back({r[0].trimmed().toUpper() + QStringLiteral("***"), repairTown(r[1].trimmed())});
    std::vector<QStringList> country;
    for (const auto& r : countries) country.push_back({r[0].trimmed(), r[1].trimmed()});
    std::vector<QStringList> zip;
    zip.reserve(zips.size());
    for (const auto& r : zips) zip.push_back({r[0].trimmed(), r[1].trimmed(), r[2].trimmed()});

    struct Job {
        const char* name;
        std::vector<FieldSpec> layout;
        std::vector<QStringList> rows;
    };
    const std::vector<Job> jobs = {
        {"Bids.dbf", bidsLayout(stemsOf(demoServices())), {}},
        {"BidTail.dbf", bidTailLayout(true), {}},
        {"Services.dbf", servicesLayout(), services},
        {"AELookUp.dbf", aeLookUpLayout(), demoExecutives()},
        {"District.dbf", districtLayout(),
         oneColumn({"Calgary", "Edmonton", "Halifax", "Montreal", "Ottawa", "Quebec City", "Regina",
                    "Toronto", "Vancouver", "Winnipeg"})},
        {"IndustryTypes.dbf", industryLayout(),
         oneColumn({"Apparel & Footwear", "Automotive Parts", "Books & Publishing", "Building Supplies",
                    "Chemicals", "Computers & Electronics", "Cosmetics", "Food & Beverage", "Furniture",
                    "Health Care & Pharmaceutical", "Industrial Machinery", "Printing", "Retail",
                    "Sporting Goods", "Telecommunications", "Toys & Games", "Wholesale Distribution"})},
        {"DistributionSrc.dbf",
         distSourceLayout(),
         {{"Catalogue / Mail Order", "CAT"},
          {"Direct to Consumer (Web Store)", "WEB"},
          {"Distributor / Wholesaler", "DIST"},
          {"Manufacturer", "MFG"},
          {"Retail Store Replenishment", "RET"},
          {"Third-Party Logistics Warehouse", "3PL"}}},
        {"PLDTypes.dbf", pldTypesLayout(),
         oneColumn({"Courier", "Ground Consolidator", "LTL Carrier", "Postal Service", "Air Freight",
                    "Customer Pick-up"})},
        {"Country.dbf", countryLayout(), country},
        {"POSTAL.dbf", postalLayout(), postal},
        {"USZIP.dbf", usZipLayout(), zip},
    };
    for (const auto& j : jobs) {
        QString why;
        if (!writeTable(path(j.name), j.layout, j.rows, &why)) {
            if (error) *error = why;
            return false;
        }
    }
    return true;
}

}  // namespace tarvik::demo
