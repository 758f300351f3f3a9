#include "shiptools/postalcodes.h"

#include <QLineEdit>

#include "pages/shipmentpage.h"
#include "tableaccess/tableaccess.h"
#include "widgets/seams.h"
#include "widgets/stringgrid.h"

namespace tarvik {

namespace {

const QString kPostalTable = QStringLiteral("Postal");
const QString kPostalTag = QStringLiteral("Postal");
const QString kZipTable = QStringLiteral("USZip");
const QString kZipTag = QStringLiteral("Zip_Code");

// Services that need a destination postal code whatever the country.
const char* const kWorldWideExpress[] = {"ww express pak", "ww express pkg", "ww express letter"};

// Columns of the shipment lines.
constexpr int kColService = 1;
constexpr int kColFromPost = 4;
constexpr int kColPostal = 5;
constexpr int kColCountry = 6;

bool seekFound(int table, const QString& key) { return !key.isEmpty() && ta::d4seek(table, key) == 0; }

}  // namespace

bool PostalCodeFound(int table, const QString& code) {
    // An empty code would otherwise seek the bare "***" and "0" keys.
    if (code.isEmpty()) return false;
    const QString first3 = ta::CopyLeft(code, 3);
    if (seekFound(table, first3 + ta::CopyRight(code, 3))) return true;
    if (seekFound(table, first3 + QStringLiteral("***"))) return true;
    return seekFound(table, ta::CopyLeft(code, 5) + QLatin1Char('0'));
}

bool ZipCodeFound(int table, const QString& code) { return seekFound(table, ta::CopyLeft(code, 5)); }

bool CheckPostalCode(MainState& state, const QString& code) {
    const int t = ta::mOpen(state.DataContext, state.tablePath(kPostalTable), kPostalTag);
    bool found = false;
    if (t > 0) {
        found = PostalCodeFound(t, code);
        if (found) state.FLastTown = ta::fetch(t, QStringLiteral("town"));
        ta::d4close(t);
    }
    if (!found) messageDlg(QStringLiteral("Invalid Postal Code!"), DialogKind::Error, Ok);
    return found;
}

bool CheckZipCode(MainState& state, const QString& code) {
    const int t = ta::mOpen(state.DataContext, state.tablePath(kZipTable), kZipTag);
    bool found = false;
    if (t > 0) found = ZipCodeFound(t, code);
    if (!found)
        messageBox(QStringLiteral("Invalid Zip Code!"), QStringLiteral("Zip Code LookUp"), PromptIcon::Error, Ok);
    if (t > 0) ta::d4close(t);
    return found;
}

QString ProvinceOfPostalCode(const QString& code) {
    if (code.isEmpty()) return QString();
    switch (code.at(0).unicode()) {
    case 'A': return QStringLiteral("NF");
    case 'B': return QStringLiteral("NS");
    case 'C': return QStringLiteral("PE");
    case 'E': return QStringLiteral("NB");
    case 'G':
    case 'H':
    case 'J': return QStringLiteral("PQ");
    case 'K':
    case 'L':
    case 'M':
    case 'N':
    case 'P': return QStringLiteral("ON");
    case 'R': return QStringLiteral("MB");
    case 'S': return QStringLiteral("SK");
    case 'T': return QStringLiteral("AB");
    case 'V': return QStringLiteral("BC");
    case 'X': return QStringLiteral("NT");
    case 'Y': return QStringLiteral("YT");
    default: return QString();
    }
}

QString UpperCaseAZ(const QString& text) {
    QString s = text;
    for (QChar& ch : s)
        if (ch.unicode() >= 'a' && ch.unicode() <= 'z') ch = QChar(ch.unicode() - 32);
    return s;
}

QString LowerCaseAZ(const QString& text) {
    QString s = text;
    for (QChar& ch : s)
        if (ch.unicode() >= 'A' && ch.unicode() <= 'Z') ch = QChar(ch.unicode() + 32);
    return s;
}

QString TitleCaseWords(const QString& text) {
    QString s = LowerCaseAZ(text);
    for (int i = 0; i < s.size(); ++i) {
        if (i == 0 || s.at(i - 1) == QLatin1Char(' ')) {
            const ushort c = s.at(i).unicode();
            if (c >= 'a' && c <= 'z') s[i] = QChar(c - 32);
        }
    }
    return s;
}

void ebxPostalCodeExit(MainState& state, QLineEdit* ebxPostalCode, QLineEdit* ebxCity, QLineEdit* ebxProv) {
    // The message box of a failed check takes the focus from the window; a focus change it causes must
    // not start a second check while the first is still asking.
    static bool busy = false;
    if (!ebxPostalCode || busy) return;
    busy = true;
    struct Release {
        bool& flag;
        ~Release() { flag = false; }
    } release{busy};
    QString code = UpperCaseAZ(ebxPostalCode->text());
    if (code.size() == 6) code.insert(3, QLatin1Char(' '));
    ebxPostalCode->setText(code);
    // Nothing typed, nothing to check: whether the code is required is for the completeness check to say.
    if (code.trimmed().isEmpty()) return;
    if (CheckPostalCode(state, code)) {
        if (ebxCity) ebxCity->setText(TitleCaseWords(state.FLastTown));
        if (ebxProv) ebxProv->setText(ProvinceOfPostalCode(code));
    } else {
        ebxPostalCode->setFocus(Qt::OtherFocusReason);
    }
}

void ebxPostalCodeExit(MainState& state, QWidget* root) {
    if (!root) return;
    auto* postal = root->findChild<QLineEdit*>(QStringLiteral("ebxPostalCode"));
    auto* city = root->findChild<QLineEdit*>(QStringLiteral("ebxCity"));
    auto* prov = root->findChild<QLineEdit*>(QStringLiteral("ebxProv"));
    if (!postal || !city || !prov) return;
    ebxPostalCodeExit(state, postal, city, prov);
}

bool ValidateShipmentCodes(MainState& state, int lastLine, const ShipmentCell& cell, QString& message) {
    const int postal = ta::mOpen(state.DataContext, state.tablePath(kPostalTable), kPostalTag);
    const int zip = ta::mOpen(state.DataContext, state.tablePath(kZipTable), kZipTag);
    QString postalList = QStringLiteral("Invalid Postal Code(s) found: ");
    QString zipList = QStringLiteral("Invalid Zip Code(s) found: ");
    bool postalEntries = false;
    bool zipEntries = false;
    const QString crlf = QStringLiteral("\r\n");

    auto checkCode = [&](int line, const QString& code, const QString& country, const QString& service,
                         const QString& postalCell) {
        if (country == QLatin1String("CA")) {
            if (postal <= 0 || !PostalCodeFound(postal, code)) {
                postalList += crlf + QStringLiteral("Ship. #") + QString::number(line) + QLatin1Char(' ') + code;
                postalEntries = true;
            }
        } else if (country == QLatin1String("US")) {
            if (zip <= 0 || !ZipCodeFound(zip, code)) {
                zipList += crlf + QStringLiteral("Ship. #") + QString::number(line) + QLatin1Char(' ') + code;
                zipEntries = true;
            }
        } else {
            for (const char* ww : kWorldWideExpress) {
                if (service.contains(QLatin1String(ww)) && postalCell.isEmpty()) {
                    zipList += crlf + QStringLiteral("Ship. #") + QString::number(line) +
                               QStringLiteral(" - MUST enter Postal");
                    zipEntries = true;
                }
            }
        }
    };

    const QString ca = QStringLiteral("CA");
    for (int n = 1; n <= lastLine; ++n) {
        const QString postalCell = cell(kColPostal, n);
        const QString service = LowerCaseAZ(cell(kColService, n));
        checkCode(n, postalCell, cell(kColCountry, n), service, postalCell);
        const QString fromPost = cell(kColFromPost, n);
        if (!fromPost.isEmpty()) checkCode(n, fromPost, ca, service, postalCell);
    }

    if (postal > 0) ta::d4close(postal);
    if (zip > 0) ta::d4close(zip);

    message.clear();
    if (postalEntries) {
        message = postalList;
        if (zipEntries) message += crlf;
    }
    if (zipEntries) message += zipList;
    return !postalEntries && !zipEntries;
}

bool ValidateShipmentCodes(MainState& state, const StringGrid& grid, QString& message) {
    return ValidateShipmentCodes(
        state, grid.rowCount() - 1, [&grid](int col, int line) { return grid.cell(col, line); }, message);
}

void wireShipmentCodeChecks(ShipmentPage& page, MainState& state) {
    ShipmentCodeChecks checks;
    checks.checkPostalCode = [&state](const QString& code) { return CheckPostalCode(state, code); };
    checks.checkZipCode = [&state](const QString& code) { return CheckZipCode(state, code); };
    page.setCodeChecks(std::move(checks));
}

}  // namespace tarvik
