#include "demodata/tablemaker.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>

#include "tableaccess/tableaccess.h"

namespace tarvik::demo {

namespace {

QString withDbf(const QString& path) {
    return path.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive) ? path : path + QStringLiteral(".dbf");
}

int byteLength(const FieldSpec& f) {
    switch (f.type) {
        case 'L':
            return 1;
        case 'D':
            return 8;
        case 'M':
            return 10;
        default:
            return f.length;
    }
}

void put16(QByteArray& b, int at, int v) {
    b[at] = char(v & 0xFF);
    b[at + 1] = char((v >> 8) & 0xFF);
}
void put32(QByteArray& b, int at, quint32 v) {
    for (int i = 0; i < 4; ++i) b[at + i] = char((v >> (8 * i)) & 0xFF);
}

bool writeFile(const QString& path, const QByteArray& bytes, QString* error) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        if (error) *error = QStringLiteral("%1: %2").arg(path, f.errorString());
        return false;
    }
    return true;
}

// Runs fn with a table context: the run's own, or one opened for the call.
template <typename Fn>
auto withContext(Fn fn) {
    ta::DataContext ctx = ta::currentContext();
    const bool own = ctx == nullptr;
    if (own) ctx = ta::OpenData();
    auto result = fn(ctx);
    if (own) ta::CloseData(ctx);
    return result;
}

FieldSpec C(const char* name, int len) {
    return FieldSpec{QLatin1String(name), 'C', len, 0};
}
FieldSpec N(const char* name, int len, int dec = 0) {
    return FieldSpec{QLatin1String(name), 'N', len, dec};
}
FieldSpec L(const char* name) {
    return FieldSpec{QLatin1String(name), 'L', 1, 0};
}
FieldSpec D(const char* name) {
    return FieldSpec{QLatin1String(name), 'D', 8, 0};
}
FieldSpec M(const char* name) {
    return FieldSpec{QLatin1String(name), 'M', 10, 0};
}

}  // namespace

bool createTable(const QString& path, const std::vector<FieldSpec>& fields, QString* error) {
    const QString dbf = withDbf(path);
    bool memo = false;
    int recordLength = 1;
    for (const auto& f : fields) {
        memo = memo || f.type == 'M';
        recordLength += byteLength(f);
        if (f.name.isEmpty() || f.name.size() > 10 || byteLength(f) <= 0 || byteLength(f) > 254) {
            if (error) *error = QStringLiteral("%1: bad field %2").arg(dbf, f.name);
            return false;
        }
    }
    const int headerLength = 32 + 32 * int(fields.size()) + 1;
    QByteArray h(headerLength + 1, '\0');
    h[0] = char(memo ? 0xF5 : 0x03);
    const QDate today = QDate::currentDate();
    h[1] = char(today.year() - 1900);
    h[2] = char(today.month());
    h[3] = char(today.day());
    put32(h, 4, 0);
    put16(h, 8, headerLength);
    put16(h, 10, recordLength);
    h[29] = char(0x03);  // Windows ANSI (cp1252)
    int offset = 1;
    for (size_t i = 0; i < fields.size(); ++i) {
        const int at = 32 + 32 * int(i);
        const QByteArray name = fields[i].name.toLatin1().toUpper();
        for (int k = 0; k < name.size(); ++k) h[at + k] = name[k];
        h[at + 11] = fields[i].type;
        put32(h, at + 12, quint32(offset));
        h[at + 16] = char(byteLength(fields[i]));
        h[at + 17] = char(fields[i].type == 'N' ? fields[i].decimals : 0);
        offset += byteLength(fields[i]);
    }
    h[headerLength - 1] = char(0x0D);
    h[headerLength] = char(0x1A);

    const QString fpt = dbf.left(dbf.size() - 4) + QStringLiteral(".fpt");
    QFile::remove(fpt);
    if (memo) {
        QByteArray m(512, '\0');
        m[3] = char(512 / 64);  // next free block, big-endian
        m[7] = char(64);        // block size, big-endian
        if (!writeFile(fpt, m, error)) return false;
    }
    return writeFile(dbf, h, error);
}

bool appendRows(const QString& path, const std::vector<QStringList>& rows, const QStringList& names) {
    return withContext([&](ta::DataContext ctx) {
        const int t = ta::mOpen(ctx, path);
        if (t <= 0) return false;
        const auto info = ta::d4fieldInfo(t);
        QStringList fields = names;
        if (fields.isEmpty())
            for (const auto& f : info) fields << f.name;
        auto typeOf = [&](const QString& name) {
            for (const auto& f : info)
                if (f.name.compare(name, Qt::CaseInsensitive) == 0) return f.type;
            return 'C';
        };
        for (const auto& row : rows) {
            ta::d4appendBlank(t);
            for (int i = 0; i < row.size() && i < fields.size(); ++i) {
                const QString& v = row[i];
                switch (typeOf(fields[i])) {
                    case 'L': {
                        const QString u = v.trimmed().toUpper();
                        ta::treplace(t, fields[i],
                                     u == QLatin1String("T") || u == QLatin1String("Y") ||
                                         u == QLatin1String("1") || u == QLatin1String("TRUE"));
                        break;
                    }
                    case 'D':
                        ta::dtreplace(t, fields[i], QDate::fromString(v, QStringLiteral("yyyyMMdd")));
                        break;
                    default:
                        if (!v.isEmpty()) ta::replace(t, fields[i], v);
                        break;
                }
            }
        }
        ta::d4close(t);
        return true;
    });
}

bool writeTable(const QString& path, const std::vector<FieldSpec>& fields,
                const std::vector<QStringList>& rows, QString* error) {
    if (!createTable(path, fields, error)) return false;
    if (rows.empty()) return true;
    if (!appendRows(path, rows)) {
        if (error) *error = QStringLiteral("%1: the new table could not be opened").arg(path);
        return false;
    }
    return true;
}

QStringList readColumn(const QString& path, const QString& field, bool skipDeleted) {
    return withContext([&](ta::DataContext ctx) {
        QStringList out;
        const int t = ta::mOpen(ctx, path);
        if (t <= 0) return out;
        if (ta::d4recCountDo(t) > 0 && ta::d4top(t) == 0) {
            do {
                if (!(skipDeleted && ta::d4deleted(t))) out << ta::fetch(t, field).trimmed();
            } while (ta::d4skip(t, 1) == 0);
        }
        ta::d4close(t);
        return out;
    });
}

QStringList fieldNames(const QString& path) {
    return withContext([&](ta::DataContext ctx) {
        QStringList out;
        const int t = ta::mOpen(ctx, path);
        if (t <= 0) return out;
        for (const auto& f : ta::d4fieldInfo(t)) out << f.name;
        ta::d4close(t);
        return out;
    });
}

int recordCount(const QString& path) {
    return withContext([&](ta::DataContext ctx) {
        const int t = ta::mOpen(ctx, path);
        if (t <= 0) return -1;
        const int n = ta::d4recCountDo(t);
        ta::d4close(t);
        return n;
    });
}

// ---- Layouts ----

std::vector<FieldSpec> servicesLayout() {
    return {C("service", 30),   C("service_d", 50), C("dbf_field", 10), N("svc_code", 4),
            C("svc_level", 10), L("letter"),        C("market", 1)};
}

QStringList serviceValues(const ServiceRow& s) {
    return {s.service,  s.serviceD,
            s.dbfField, s.svcCode ? QString::number(s.svcCode) : QString(),
            s.svcLevel, s.letter ? QStringLiteral("T") : QStringLiteral("F"),
            s.market};
}

QStringList stemsOf(const std::vector<ServiceRow>& services) {
    QStringList stems;
    for (const auto& s : services) {
        const QString d = s.dbfField.trimmed();
        if (!d.isEmpty() && !stems.contains(d, Qt::CaseInsensitive)) stems << d;
    }
    return stems;
}

std::vector<FieldSpec> bidsLayout(const QStringList& stems, bool withBrokerage, bool withMob) {
    std::vector<FieldSpec> f = {
        C("local_bid", 40), D("subm_date"),    C("loc_stat", 10),  L("portf_bid"),    C("comp_name", 60),
        C("ae_name", 40),   C("ssa_name", 40), C("ssa_email", 60), C("asm_name", 40), C("district", 30),
        C("racf_id", 20),   C("ship_num", 20), C("address", 80),   C("city", 40),     C("prov", 2),
        C("postal", 10),    C("perc_bus", 10), C("commod", 60),    C("industry", 60),
    };
    if (withMob) f.push_back(L("m_o_b"));
    for (const auto& x : {L("resell_vyn"), N("val_duty", 4), L("val_model"), C("val_saving", 10)})
        f.push_back(x);
    for (const QString& s : stems) {
        f.push_back(FieldSpec{s + QLatin1Char('1'), 'N', 10, 0});
        f.push_back(FieldSpec{s + QLatin1Char('2'), 'N', 10, 0});
        f.push_back(FieldSpec{s + QLatin1Char('p'), 'L', 1, 0});
    }
    for (const auto& x :
         {C("bid_type", 20), C("act_categ", 40), C("bill_opt", 40), C("competr", 40), C("competr2", 40),
          C("competr3", 40), C("PLD_type", 40), C("associated", 80), C("comp_src", 60), C("dist_src", 20),
          M("sale_strat"), C("strategy", 40), C("beat_by", 10), L("mult_only"), L("broker")})
        f.push_back(x);
    if (withBrokerage) f.push_back(C("brokerage", 60));
    for (const auto& x :
         {C("avg_cube", 14), C("info_src", 60), C("ah_pct", 10), C("ah_percent", 10), C("bill_wgt", 14)})
        f.push_back(x);
    for (int n = 1; n <= 15; ++n) {
        const QString k = QString::number(n);
        f.push_back(FieldSpec{QStringLiteral("Length_") + k, 'C', 8, 0});
        f.push_back(FieldSpec{QStringLiteral("Width_") + k, 'C', 8, 0});
        f.push_back(FieldSpec{QStringLiteral("Height_") + k, 'C', 8, 0});
        f.push_back(FieldSpec{QStringLiteral("No_Pkgs_") + k, 'C', 8, 0});
        f.push_back(FieldSpec{QStringLiteral("Cube_") + k, 'C', 14, 0});
        f.push_back(FieldSpec{QStringLiteral("Tot_Cube") + k, 'C', 14, 0});
    }
    return f;
}

std::vector<FieldSpec> bidTailLayout(bool withFromPost) {
    std::vector<FieldSpec> f = {
        C("local_bid", 40),    C("svc_code", 5),   C("svc_level", 10), C("letter", 1),    C("market", 1),
        N("daily_vol", 12, 2), C("svc_desc", 30),  C("tot_pcs", 10),   C("tot_wgt", 10),  C("postal", 10),
        C("ctry_code", 6),     C("comp_rate", 12), C("sch_pu", 12),    C("sch_forw", 12), C("sch_other", 12),
        C("sch_name", 40),     C("tot_crate", 12)};
    if (withFromPost) f.push_back(C("from_post", 10));
    return f;
}

std::vector<FieldSpec> aeLookUpLayout() {
    return {C("ae_name", 40),  C("SSA_Name", 40), C("ssa_email", 60),
            C("ASM_Name", 40), C("District", 30), C("racf_id", 20)};
}
std::vector<FieldSpec> districtLayout() {
    return {C("value", 30)};
}
std::vector<FieldSpec> industryLayout() {
    return {C("industry", 60)};
}
std::vector<FieldSpec> distSourceLayout() {
    return {C("dist_src", 60), C("value", 10)};
}
std::vector<FieldSpec> pldTypesLayout() {
    return {C("pld_type", 40)};
}
std::vector<FieldSpec> countryLayout() {
    return {C("code", 6), C("name", 60)};
}
std::vector<FieldSpec> postalLayout() {
    return {C("POSTAL_COD", 6), C("town", 40)};
}
std::vector<FieldSpec> usZipLayout() {
    return {C("ZIP_CODE", 5), C("city", 40), C("state", 2)};
}

}  // namespace tarvik::demo
