#include "store/bidtables.h"

#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <algorithm>
#include <cstring>

#include "pages/bidprofilepage.h"
#include "pages/cubepage.h"
#include "pages/mainpage.h"
#include "pages/servicespage.h"
#include "pages/shipmentpage.h"
#include "pages/shipperprofilepage.h"
#include "tableaccess/tableaccess.h"

namespace tarvik {

const QStringList& cubeFieldPrefixes() {
    static const QStringList p = {QStringLiteral("Length_"), QStringLiteral("Width_"),   QStringLiteral("Height_"),
                                  QStringLiteral("No_Pkgs_"), QStringLiteral("Cube_"), QStringLiteral("Tot_Cube")};
    return p;
}

const QStringList& detailFieldNames() {
    static const QStringList f = {
        QStringLiteral("svc_desc"),  QStringLiteral("tot_pcs"),   QStringLiteral("tot_wgt"), QStringLiteral("from_post"),
        QStringLiteral("postal"),    QStringLiteral("ctry_code"), QStringLiteral("comp_rate"), QStringLiteral("sch_pu"),
        QStringLiteral("sch_forw"),  QStringLiteral("sch_other"), QStringLiteral("sch_name"), QStringLiteral("tot_crate")};
    return f;
}

const QStringList& competitorSourceWords() {
    static const QStringList w = {QStringLiteral("Manifest"), QStringLiteral("Visual"), QStringLiteral("Verbal"),
                                  QStringLiteral("Estimate")};
    return w;
}

namespace {
BidStoreEvents& storeEvents() {
    static BidStoreEvents e;
    return e;
}
}  // namespace

void setBidStoreEvents(BidStoreEvents events) {
    storeEvents() = std::move(events);
}
const BidStoreEvents& bidStoreEvents() {
    return storeEvents();
}

QString bidControlText(QWidget* window, const char* name) {
    if (auto* e = bidControl<QLineEdit>(window, name)) return e->text();
    if (auto* c = bidControl<QComboBox>(window, name)) return c->currentText();
    return {};
}

QString bidSelectedItem(QWidget* window, const char* name) {
    auto* c = bidControl<QComboBox>(window, name);
    return c && c->currentIndex() >= 0 ? c->itemText(c->currentIndex()) : QString();
}

BidPages BidPages::of(QWidget* window) {
    BidPages p;
    if (!window) return p;
    p.main = window->findChild<MainPage*>();
    p.shipper = window->findChild<ShipperProfilePage*>();
    p.services = window->findChild<ServicesPage*>();
    p.bidProfile = window->findChild<BidProfilePage*>();
    p.cube = window->findChild<CubePage*>();
    p.shipment = window->findChild<ShipmentPage*>();
    return p;
}

bool forEachServiceRow(const MainState& state,
                       const std::function<void(int row, const QString& stem)>& visit) {
    const int services = ta::mOpen(state.DataContext, state.tablePath(QStringLiteral("Services")));
    if (services <= 0) return false;
    int row = 0;
    if (ta::d4top(services) == 0) {
        do {
            const QString description = ta::fetch(services, QStringLiteral("service_d")).trimmed();
            if (description.isEmpty()) continue;
            if (description.startsWith(QLatin1Char('-'))) {
                ++row;
                continue;
            }
            const QString stem = ta::fetch(services, QStringLiteral("dbf_field")).trimmed();
            if (stem.isEmpty()) continue;
            visit(row, stem);
            ++row;
        } while (ta::d4skip(services, 1) == 0);
    }
    ta::d4close(services);
    return true;
}

namespace {
ProgressWindowFactory& progressFactory() {
    static ProgressWindowFactory f;
    return f;
}
}  // namespace

void setProgressWindowFactory(ProgressWindowFactory factory) { progressFactory() = std::move(factory); }

std::unique_ptr<QObject> showProgressWindow(QWidget* owner, const QString& caption, const QString& text) {
    return progressFactory() ? progressFactory()(owner, caption, text) : nullptr;
}

// ---- Finding a bid's records ----

RecordMatches findRecordsByLocate(int table, const QString& field, const QString& value) {
    RecordMatches m;
    bool more = ta::LocateByField(table, field, false, value);
    while (more) {
        m.records.push_back(ta::d4recNo(table));
        m.deleted.push_back(ta::d4deleted(table) != 0);
        more = ta::LocateByField(table, field, true, value);
    }
    // Whether the table holds any deleted record at all.
    if (ta::d4top(table) == 0) {
        do {
            if (ta::d4deleted(table) != 0) {
                m.anyDeleted = true;
                break;
            }
        } while (ta::d4skip(table, 1) == 0);
    }
    return m;
}

namespace {

uint32_t le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
bool asciiSpace(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r' || c == 0; }

// The fast pass. False when the file cannot be read this way; the caller then falls back.
bool scanFile(int table, const QString& tablePath, const QString& field, const QString& value, RecordMatches& out) {
    const QString want = value.trimmed();
    for (QChar c : want)
        if (c.unicode() >= 0x80) return false;
    const QByteArray wantBytes = want.toLatin1();

    QString path = tablePath;
    if (!path.endsWith(QLatin1String(".dbf"), Qt::CaseInsensitive)) path += QStringLiteral(".dbf");
    QFile file(ta::resolvePath(path));
    if (!file.open(QIODevice::ReadOnly)) return false;
    unsigned char head[32];
    if (file.read(reinterpret_cast<char*>(head), 32) != 32) return false;
    const uint32_t count = le32(head + 4);
    const uint16_t headerLength = le16(head + 8);
    const uint16_t recordLength = le16(head + 10);
    if (recordLength < 2 || headerLength < 33) return false;
    if (static_cast<long long>(count) != ta::d4recCountDo(table)) return false;
    if (file.size() < qint64(headerLength) + qint64(count) * recordLength) return false;

    // Field descriptors: find the field and its offset in the record (after the deletion flag).
    const QByteArray descriptors = file.read(headerLength - 32);
    int offset = 1;
    int fieldOffset = -1;
    int fieldLength = 0;
    for (int pos = 0; pos + 32 <= descriptors.size() && static_cast<unsigned char>(descriptors[pos]) != 0x0D; pos += 32) {
        const auto* d = reinterpret_cast<const unsigned char*>(descriptors.constData() + pos);
        QByteArray name(reinterpret_cast<const char*>(d), 11);
        const int nul = name.indexOf('\0');
        if (nul >= 0) name.truncate(nul);
        const char type = static_cast<char>(d[11]);
        const int length = type == 'C' ? (d[16] | (d[17] << 8)) : d[16];
        if (fieldOffset < 0 && QString::fromLatin1(name).trimmed().compare(field, Qt::CaseInsensitive) == 0) {
            if (type != 'C') return false;
            fieldOffset = offset;
            fieldLength = length;
        }
        offset += length;
    }
    if (fieldOffset < 0 || offset != recordLength) return false;

    if (!file.seek(headerLength)) return false;
    constexpr uint32_t kBlockRecords = 16384;
    QByteArray block;
    for (uint32_t first = 0; first < count; first += kBlockRecords) {
        const uint32_t n = std::min(kBlockRecords, count - first);
        block = file.read(qint64(n) * recordLength);
        if (block.size() != qint64(n) * recordLength) return false;
        const auto* base = reinterpret_cast<const unsigned char*>(block.constData());
        for (uint32_t i = 0; i < n; ++i) {
            const unsigned char* rec = base + size_t(i) * recordLength;
            const bool deleted = rec[0] == '*';
            if (deleted) out.anyDeleted = true;
            const unsigned char* f = rec + fieldOffset;
            int b = 0;
            int e = fieldLength;
            while (b < e && asciiSpace(f[b])) ++b;
            while (e > b && asciiSpace(f[e - 1])) --e;
            // A byte outside ASCII at either end may be a blank of the codepage: too unsure, fall back.
            if (e > b && (f[b] >= 0x80 || f[e - 1] >= 0x80)) return false;
            if (e - b == wantBytes.size() && std::memcmp(f + b, wantBytes.constData(), size_t(e - b)) == 0) {
                out.records.push_back(static_cast<int>(first + i + 1));
                out.deleted.push_back(deleted);
            }
        }
    }
    return true;
}

}  // namespace

QString valueAsStored(int table, const QString& field, const QString& value) {
    if (table <= 0) return value;
    for (const ta::FieldInfo& f : ta::d4fieldInfo(table))
        if (f.name.compare(field, Qt::CaseInsensitive) == 0)
            return f.type == 'C' && f.length > 0 && value.size() > f.length ? value.left(f.length) : value;
    return value;
}

RecordMatches findRecords(int table, const QString& tablePath, const QString& field, const QString& value) {
    const QString stored = valueAsStored(table, field, value);
    RecordMatches m;
    if (table > 0 && scanFile(table, tablePath, field, stored, m)) return m;
    return findRecordsByLocate(table, field, stored);
}

int bidIdWidth(const MainState& state) {
    int width = 0;
    for (const char* name : {"Bids", "BidTail"}) {
        const int t = ta::mOpen(state.DataContext, state.tablePath(QLatin1String(name)));
        if (t <= 0) continue;
        for (const ta::FieldInfo& f : ta::d4fieldInfo(t))
            if (f.name.compare(QLatin1String("local_bid"), Qt::CaseInsensitive) == 0 && f.type == 'C' &&
                f.length > 0)
                width = width == 0 ? f.length : std::min(width, f.length);
        ta::d4close(t);
    }
    return width;
}

}  // namespace tarvik
