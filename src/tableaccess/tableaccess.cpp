#include "tableaccess/tableaccess.h"

#include <QDir>
#include <QFile>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/fileio.h"

namespace ta {

// Return codes besides 0 (success), after the xBase custom.
namespace {
constexpr int kNotFound = 2;  // seek found no matching key
constexpr int kEof = 3;       // moved past the last record
constexpr int kBof = 4;       // moved before the first record
constexpr int kError = -1;    // failure (reported)
}  // namespace

struct DataContextImpl {
    int reportFieldNames = 1;  // code4errFieldName
};

namespace {

struct Entry {
    std::unique_ptr<xb::Table> table;
    xb::Codepage codepage = xb::Codepage::Cp1252;
    const char16_t* chars = nullptr;  // the codepage's characters by byte
    DataContext ctx = nullptr;
    QString path;
    // the last field looked up by name (as a QString, and as the bytes of a C string)
    QString lastName;
    int lastIndex = -1;
    std::string lastKey;
    int lastKeyIndex = -1;
    // the text fetch returned last; its buffer is reused once the caller has let go of it
    QString fetched;
    // per field: where in the record buffer its text is when it is fetched straight from there (C, N,
    // F and L fields that cannot be null); length 0 for the others
    struct Plain {
        uint32_t offset = 0;
        uint16_t length = 0;
    };
    std::vector<Plain> plain;
};

struct Registry {
    std::unordered_map<int, Entry> tables;
    int nextHandle = 1;
    std::vector<std::unique_ptr<DataContextImpl>> contexts;
    DataContext current = nullptr;
    ErrorHandler handler;
    // the entry found last (a scan asks for the same handle again and again)
    int lastHandle = 0;
    Entry* lastEntry = nullptr;

    // Removes a table; returns the iterator after it.
    std::unordered_map<int, Entry>::iterator erase(std::unordered_map<int, Entry>::iterator it) {
        if (it->first == lastHandle) {
            lastHandle = 0;
            lastEntry = nullptr;
        }
        return tables.erase(it);
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

void defaultHandler(const QString& file, const QString& problem) {
    const QByteArray text = (file.isEmpty() ? problem : file + QStringLiteral(": ") + problem).toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
}

// A handler may run anything while it reports (the program shows a message box, whose event loop may
// close tables or put another handler in place). So it runs from a copy of itself, and a call that goes
// on after a report finds its table again (found()) instead of keeping a pointer across the report.
void report(const QString& file, const QString& problem) {
    const ErrorHandler handler = registry().handler;
    if (handler)
        handler(file, problem);
    else
        defaultHandler(file, problem);
}

QString fromLocal(const std::string& s) {
    return QFile::decodeName(QByteArray::fromStdString(s));
}
std::string toLocal(const QString& s) {
    return QFile::encodeName(s).toStdString();
}
// Paths may come with Windows separators; the engine takes '/'.
std::string toPath(const QString& s) {
    return toLocal(QDir::fromNativeSeparators(QString(s).replace(QLatin1Char('\\'), QLatin1Char('/'))));
}

// Engine messages read "<file>: <problem>"; the file goes to the report's file argument.
void reportEngine(const std::string& message, const QString& fallbackFile = QString()) {
    const QString m = fromLocal(message);
    const int sep = m.indexOf(QStringLiteral(": "));
    if (sep > 0 && (m.left(sep).contains(QLatin1Char('/')) || m.left(sep).contains(QLatin1Char('.')))) {
        report(m.left(sep), m.mid(sep + 2));
    } else {
        report(fallbackFile, m.isEmpty() ? QStringLiteral("the operation failed") : m);
    }
}

// True while ctx is open (a context closed by CloseData is freed and must not be used).
bool live(DataContext ctx) {
    for (const auto& c : registry().contexts)
        if (c.get() == ctx) return true;
    return false;
}

// The entry of a handle without a report, or nullptr.
Entry* found(int table) {
    auto& r = registry();
    if (table == r.lastHandle && r.lastEntry) return r.lastEntry;
    const auto it = r.tables.find(table);
    return it == r.tables.end() ? nullptr : &it->second;
}

// The lookup of a handle other than the last one (kept out of line: a scan asks for one handle only).
[[gnu::noinline]] Entry* lookUp(int table) {
    auto& r = registry();
    const auto it = r.tables.find(table);
    if (it == r.tables.end()) {
        report(QString(), QStringLiteral("there is no open table with handle %1").arg(table));
        return nullptr;
    }
    r.lastHandle = table;
    r.lastEntry = &it->second;
    return &it->second;
}

inline Entry* entry(int table) {
    const auto& r = registry();
    if (table == r.lastHandle && r.lastEntry) [[likely]]
        return r.lastEntry;
    return lookUp(table);
}

QString decode(std::string_view bytes, xb::Codepage cp, bool trimRight = false) {
    size_t n = bytes.size();
    if (trimRight)
        while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == '\0')) --n;
    const char16_t* t = xb::codepageTable(cp);
    QString out(static_cast<qsizetype>(n), Qt::Uninitialized);
    QChar* d = out.data();
    for (size_t i = 0; i < n; ++i) d[i] = QChar(t[static_cast<uint8_t>(bytes[i])]);
    return out;
}

// The field's text without trailing blanks, decoded into the entry's fetch buffer. The result shares
// that buffer; when the caller has let go of the previous result the buffer is written again in place
// (no allocation), and a result the caller still holds is never touched: a shared buffer is replaced,
// not written.
QString decodeFetched(Entry& e, std::string_view bytes) {
    size_t n = bytes.size();
    while (n > 0 && (bytes[n - 1] == ' ' || bytes[n - 1] == '\0')) --n;
    if (n == 0) return QString(0, Qt::Uninitialized);
    QString& buf = e.fetched;
    const auto size = static_cast<qsizetype>(n);
    if (!buf.isDetached())
        buf = QString(size, Qt::Uninitialized);  // exact: the caller may keep it
    else if (buf.capacity() < size)
        buf.reserve(std::max<qsizetype>(size, static_cast<qsizetype>(bytes.size())));
    if (buf.size() != size) buf.resize(size);
    char16_t* d = reinterpret_cast<char16_t*>(buf.data());
    const auto* in = reinterpret_cast<const uint8_t*>(bytes.data());
    const char16_t* t = e.chars;
    for (size_t i = 0; i < n; ++i) d[i] = t[in[i]];
    return buf;
}

// Text to the table's bytes; a character the codepage lacks is reported (it is stored as '?').
std::string encode(Entry& e, const QString& text, const QString& field) {
    bool lossy = false;
    std::string bytes = xb::fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                          static_cast<size_t>(text.size())),
                                      e.codepage, &lossy);
    if (lossy)
        report(e.path, QStringLiteral(
                           "field %1: characters the table's codepage (%2) cannot hold were stored as \"?\"")
                           .arg(field)
                           .arg(xb::codepageNumber(e.codepage)));
    return bytes;
}

bool reportFieldNames(const Entry& e) {
    DataContext ctx = e.ctx ? e.ctx : registry().current;
    return !ctx || ctx->reportFieldNames != 0;
}

// The field's position, or -1 (reported unless reports of unknown names are off).
int fieldOf(Entry& e, const QString& name, bool reportMissing = true) {
    if (e.lastIndex >= 0 && name.size() == e.lastName.size() &&
        (name.constData() == e.lastName.constData() || name == e.lastName))
        return e.lastIndex;
    const int i = e.table->fieldIndex(toLocal(name.trimmed()));
    if (i < 0) {
        if (reportMissing && reportFieldNames(e))
            report(e.path, QStringLiteral("the table has no field \"%1\"").arg(name));
        return -1;
    }
    e.lastName = name;
    e.lastIndex = i;
    return i;
}

// The same for a name given as a C string (UTF-8), without making a QString while it names the field
// asked for last.
int fieldOf(Entry& e, const char* name) {
    if (!name) name = "";
    if (e.lastKeyIndex >= 0) {
        // compared here rather than by a call: a scan asks for the same short name at every record
        const char* k = e.lastKey.c_str();
        const char* n = name;
        while (*n == *k && *n) ++n, ++k;
        if (*n == *k) return e.lastKeyIndex;
    }
    const int i = fieldOf(e, QString::fromUtf8(name));
    if (i >= 0) {
        e.lastKey = name;
        e.lastKeyIndex = i;
    }
    return i;
}

int fail(Entry& e) {
    reportEngine(e.table->error(), e.path);
    return kError;
}

// Result of a move: 0 on a record, kEof / kBof at the ends, kError (reported) on failure.
int moved(Entry& e, bool ok, int endCode) {
    if (ok) return 0;
    if (!e.table->error().empty()) return fail(e);
    return endCode;
}

int checked(Entry& e, bool ok) {
    return ok ? 0 : fail(e);
}

std::vector<xb::TagSpec> toSpecs(Entry* e, const std::vector<TagInfo>& tags, xb::Codepage cp) {
    std::vector<xb::TagSpec> specs;
    (void)e;
    for (const auto& t : tags) {
        if (t.name.trimmed().isEmpty()) break;
        xb::TagSpec s;
        s.name =
            xb::fromUtf16(std::u16string_view(reinterpret_cast<const char16_t*>(t.name.trimmed().utf16()),
                                              static_cast<size_t>(t.name.trimmed().size())),
                          cp);
        s.expression = t.expression.toStdString();
        s.filter = t.filter.toStdString();
        s.unique = t.unique != 0;
        s.descending = t.descending != 0;
        specs.push_back(std::move(s));
    }
    return specs;
}

}  // namespace

ErrorHandler setErrorHandler(ErrorHandler handler) {
    ErrorHandler previous = std::move(registry().handler);
    registry().handler = std::move(handler);
    if (!previous) previous = defaultHandler;
    return previous;
}

// ---- Context and tables ----

DataContext OpenData() {
    auto& r = registry();
    r.contexts.push_back(std::make_unique<DataContextImpl>());
    r.current = r.contexts.back().get();
    return r.current;
}

void CloseData(DataContext ctx) {
    auto& r = registry();
    if (!ctx) return;
    // The tables are closed first and their failures reported after, when the registry is settled.
    std::vector<std::pair<std::string, QString>> failures;
    for (auto it = r.tables.begin(); it != r.tables.end();) {
        if (it->second.ctx == ctx) {
            if (!it->second.table->flush()) failures.emplace_back(it->second.table->error(), it->second.path);
            it = r.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = r.contexts.begin(); it != r.contexts.end(); ++it) {
        if (it->get() == ctx) {
            r.contexts.erase(it);
            break;
        }
    }
    if (r.current == ctx) r.current = r.contexts.empty() ? nullptr : r.contexts.back().get();
    for (const auto& [error, path] : failures) reportEngine(error, path);
}

DataContext currentContext() {
    return registry().current;
}

int mOpen(DataContext ctx, const QString& path, const QString& tag) {
    if (ctx && !live(ctx)) {
        report(path, QStringLiteral("the table cannot be opened: its data context has been closed"));
        return 0;
    }
    std::string err;
    auto t = xb::Table::open(toPath(path), err);
    if (!t) {
        reportEngine(err, path);
        return 0;
    }
    if (!tag.trimmed().isEmpty() && !t->selectTag(toLocal(tag.trimmed()))) {
        reportEngine(t->error(), path);
        return 0;
    }
    auto& r = registry();
    const int handle = r.nextHandle++;
    Entry e;
    e.codepage = xb::codepageFromByte(t->codepageByte());
    e.chars = xb::codepageTable(e.codepage);
    e.path = fromLocal(t->path());
    for (int i = 0; i < t->fieldCount(); ++i) {
        const xb::FieldDesc& f = t->fields()[size_t(i)];
        const bool plain =
            (f.type == 'C' || f.type == 'N' || f.type == 'F' || f.type == 'L') && !t->nullable(i);
        e.plain.push_back(plain ? Entry::Plain{f.offset, f.length} : Entry::Plain{});
    }
    e.table = std::move(t);
    e.ctx = ctx ? ctx : r.current;
    r.tables.emplace(handle, std::move(e));
    return handle;
}

int d4close(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    // Closed first, reported after: the handler sees the table gone.
    const bool flushed = e->table->flush();
    const std::string error = flushed ? std::string() : e->table->error();
    const QString path = e->path;
    auto& r = registry();
    r.erase(r.tables.find(table));
    if (flushed) return 0;
    reportEngine(error, path);
    return kError;
}

// ---- Position ----

int d4top(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return moved(*e, e->table->top(), kEof);
}

int d4bottom(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return moved(*e, e->table->bottom(), kEof);
}

int d4skip(int table, int n) {
    Entry* e = entry(table);
    if (!e) return kError;
    return moved(*e, e->table->skip(n), n < 0 ? kBof : kEof);
}

int d4go(int table, int recno) {
    Entry* e = entry(table);
    if (!e) return kError;
    if (recno < 1) {
        report(e->path, QStringLiteral("record %1 does not exist (records are numbered from 1)").arg(recno));
        return kError;
    }
    return checked(*e, e->table->go(static_cast<uint32_t>(recno)));
}

int d4recNo(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return static_cast<int>(e->table->recno());
}

int d4recCountDo(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return static_cast<int>(e->table->recordCount());
}

int d4seek(int table, const QString& key) {
    Entry* e = entry(table);
    if (!e) return kError;
    bool lossy = false;
    const std::string bytes = xb::fromUtf16(
        std::u16string_view(reinterpret_cast<const char16_t*>(key.utf16()), static_cast<size_t>(key.size())),
        e->codepage, &lossy);
    if (lossy) return kNotFound;  // a key the table cannot hold is in no record
    if (e->table->seek(bytes)) return 0;
    if (!e->table->error().empty()) return fail(*e);
    return kNotFound;
}

// ---- Fields by name ----

namespace {
QString fetchField(Entry& e, int i) {
    const Entry::Plain p = e.plain[size_t(i)];
    const std::vector<uint8_t>& rec = e.table->recordBuffer();
    if (p.length > 0 && p.offset + p.length <= rec.size())  // the common case
        return decodeFetched(
            e, std::string_view(reinterpret_cast<const char*>(rec.data()) + p.offset, p.length));
    const char type = e.table->fields()[i].type;
    if (type == 'C' || type == 'N' || type == 'F' || type == 'L') {
        // the common case, straight from the record buffer
        if (e.table->isNull(i)) return {};
        return decodeFetched(e, e.table->rawView(i));
    }
    std::string bytes = type == 'D' || type == 'T' ? e.table->getDate(i) : e.table->getText(i);
    if (!e.table->error().empty()) {
        fail(e);
        return {};
    }
    return decode(bytes, e.codepage, true);
}
}  // namespace

QString fetch(int table, const QString& field) {
    Entry* e = entry(table);
    if (!e) return {};
    const int i = fieldOf(*e, field);
    if (i < 0) return {};
    return fetchField(*e, i);
}

QString fetch(int table, const char* field) {
    Entry* e = entry(table);
    if (!e) return {};
    const int i = fieldOf(*e, field);
    if (i < 0) return {};
    return fetchField(*e, i);
}

int replace(int table, const QString& field, const QString& text) {
    Entry* e = entry(table);
    if (!e) return kError;
    const int i = fieldOf(*e, field);
    if (i < 0) return kError;
    const std::string bytes = encode(*e, text, field);
    e = found(table);  // the report of a lossy text may have closed it
    if (!e) return kError;
    return checked(*e, e->table->setText(i, bytes));
}

int ifetch(int table, const QString& field) {
    Entry* e = entry(table);
    if (!e) return 0;
    const int i = fieldOf(*e, field);
    if (i < 0) return 0;
    const int64_t v = e->table->getInt(i);
    if (!e->table->error().empty()) {
        fail(*e);
        return 0;
    }
    return static_cast<int>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int ireplace(int table, const QString& field, int value) {
    Entry* e = entry(table);
    if (!e) return kError;
    const int i = fieldOf(*e, field);
    if (i < 0) return kError;
    return checked(*e, e->table->setInt(i, value));
}

double dfetch(int table, const QString& field) {
    Entry* e = entry(table);
    if (!e) return 0;
    const int i = fieldOf(*e, field);
    if (i < 0) return 0;
    const double v = e->table->getDouble(i);
    if (!e->table->error().empty()) {
        fail(*e);
        return 0;
    }
    return v;
}

int dreplace(int table, const QString& field, double value) {
    Entry* e = entry(table);
    if (!e) return kError;
    const int i = fieldOf(*e, field);
    if (i < 0) return kError;
    return checked(*e, e->table->setDouble(i, value));
}

bool tfetch(int table, const QString& field) {
    Entry* e = entry(table);
    if (!e) return false;
    const int i = fieldOf(*e, field);
    if (i < 0) return false;
    const bool v = e->table->getLogical(i);
    if (!e->table->error().empty()) {
        fail(*e);
        return false;
    }
    return v;
}

int treplace(int table, const QString& field, bool value) {
    Entry* e = entry(table);
    if (!e) return kError;
    const int i = fieldOf(*e, field);
    if (i < 0) return kError;
    return checked(*e, e->table->setLogical(i, value));
}

QDate dtfetch(int table, const QString& field) {
    Entry* e = entry(table);
    if (!e) return {};
    const int i = fieldOf(*e, field);
    if (i < 0) return {};
    const std::string d = e->table->getDate(i);
    if (!e->table->error().empty()) {
        fail(*e);
        return {};
    }
    return QDate::fromString(QString::fromLatin1(d.data(), static_cast<qsizetype>(d.size())),
                             QStringLiteral("yyyyMMdd"));
}

int dtreplace(int table, const QString& field, const QDate& value) {
    Entry* e = entry(table);
    if (!e) return kError;
    const int i = fieldOf(*e, field);
    if (i < 0) return kError;
    const std::string text = value.isValid() && value.year() >= 1 && value.year() <= 9999
                                 ? value.toString(QStringLiteral("yyyyMMdd")).toStdString()
                                 : std::string();
    return checked(*e, e->table->setDate(i, text));
}

// ---- Records ----

int d4appendBlank(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return checked(*e, e->table->appendBlank());
}

int d4delete(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return checked(*e, e->table->deleteRecord());
}

int d4recall(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return checked(*e, e->table->recall());
}

int d4deleted(int table) {
    Entry* e = entry(table);
    if (!e) return 0;
    return e->table->deleted() ? 1 : 0;
}

int d4pack(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return checked(*e, e->table->pack());
}

// ---- Structure ----

int d4numFields(int table) {
    Entry* e = entry(table);
    if (!e) return kError;
    return e->table->fieldCount();
}

Field4 d4fieldJ(int table, int j) {
    Entry* e = entry(table);
    if (!e) return {};
    if (j < 1 || j > e->table->fieldCount()) {
        report(e->path, QStringLiteral("the table has no field number %1").arg(j));
        return {};
    }
    return Field4{table, j - 1};
}

Field4 d4field(int table, const QString& name) {
    Entry* e = entry(table);
    if (!e) return {};
    const int i = fieldOf(*e, name);
    if (i < 0) return {};
    return Field4{table, i};
}

int d4fieldNumber(int table, const QString& name) {
    Entry* e = entry(table);
    if (!e) return 0;
    return fieldOf(*e, name) + 1;
}

std::vector<FieldInfo> d4fieldInfo(int table) {
    std::vector<FieldInfo> out;
    Entry* e = entry(table);
    if (!e) return out;
    for (const auto& f : e->table->fields())
        out.push_back(FieldInfo{decode(f.name, e->codepage), f.type, f.length, f.decimals});
    return out;
}

namespace {
// The entry and field position of a Field4, or nullptr (reported).
Entry* fieldEntry(Field4 f) {
    if (!f) {
        report(QString(), QStringLiteral("no field was given"));
        return nullptr;
    }
    Entry* e = entry(f.table);
    if (e && f.index >= e->table->fieldCount()) {
        report(e->path, QStringLiteral("the table has no field number %1").arg(f.index + 1));
        return nullptr;
    }
    return e;
}
}  // namespace

char f4type(Field4 f) {
    Entry* e = fieldEntry(f);
    return e ? e->table->fields()[f.index].type : '\0';
}

QString f4name(Field4 f) {
    Entry* e = fieldEntry(f);
    return e ? decode(e->table->fields()[f.index].name, e->codepage) : QString();
}

int f4len(Field4 f) {
    Entry* e = fieldEntry(f);
    return e ? e->table->fields()[f.index].length : 0;
}

int f4decimals(Field4 f) {
    Entry* e = fieldEntry(f);
    return e ? e->table->fields()[f.index].decimals : 0;
}

QString f4str(Field4 f) {
    Entry* e = fieldEntry(f);
    if (!e) return {};
    const std::string bytes = e->table->getText(f.index);
    if (!e->table->error().empty()) {
        fail(*e);
        return {};
    }
    return decode(bytes, e->codepage);
}

QString f4memoStr(Field4 f) {
    return f4str(f);
}

int f4assign(Field4 f, const QString& text) {
    Entry* e = fieldEntry(f);
    if (!e) return kError;
    const std::string bytes = encode(*e, text, f4name(f));
    e = found(f.table);  // the report of a lossy text may have closed it
    if (!e) return kError;
    return checked(*e, e->table->setText(f.index, bytes));
}

int f4memoAssign(Field4 f, const QString& text) {
    return f4assign(f, text);
}

int code4errFieldName(DataContext ctx, int flag) {
    if (!ctx) ctx = registry().current;
    if (!ctx || !live(ctx)) return 1;  // a closed context keeps nothing
    const int previous = ctx->reportFieldNames;
    ctx->reportFieldNames = flag;
    return previous;
}

// ---- Files ----

int CopyStru(int source, const QString& newPath) {
    Entry* e = entry(source);
    if (!e) return kError;
    std::string err;
    auto copy = e->table->copyStructure(toPath(newPath), err);
    if (!copy) {
        reportEngine(err, newPath);
        return kError;
    }
    if (!copy->flush()) {
        reportEngine(copy->error(), newPath);
        return kError;
    }
    return 0;
}

int AppendRecord(int source, int target) {
    Entry* s = entry(source);
    Entry* t = entry(target);
    if (!s || !t) return kError;
    if (s->table->recno() < 1 || s->table->recno() > s->table->recordCount()) {
        report(s->path, QStringLiteral("there is no current record to copy"));
        return kError;
    }
    return checked(*t, t->table->appendRecordFrom(*s->table));
}

int CreateIndex(DataContext, const QString& tablePath, const std::vector<TagInfo>& tags) {
    std::string err;
    auto t = xb::Table::open(toPath(tablePath), err, false, true);
    if (!t) {
        reportEngine(err, tablePath);
        return kError;
    }
    const auto specs = toSpecs(nullptr, tags, xb::codepageFromByte(t->codepageByte()));
    if (specs.empty()) {
        report(fromLocal(t->path()), QStringLiteral("an index needs at least one tag"));
        return kError;
    }
    if (!t->createIndex(specs)) {
        reportEngine(t->error(), tablePath);
        return kError;
    }
    return 0;
}

int CheckForTag(DataContext ctx, const QString& tablePath, const std::vector<TagInfo>& tags) {
    std::string err;
    auto t = xb::Table::open(toPath(tablePath), err);
    // An index is read tag by tag on first use; one damaged below a tag's root counts as unreadable here.
    if (t && t->index() && !t->index()->validate(err)) t.reset();
    if (!t) {
        // A missing or unreadable index is built anew with these tags.
        auto bare = xb::Table::open(toPath(tablePath), err, false, true);
        if (!bare) {
            reportEngine(err, tablePath);
            return kError;
        }
        bare.reset();
        return CreateIndex(ctx, tablePath, tags);
    }
    const auto specs = toSpecs(nullptr, tags, xb::codepageFromByte(t->codepageByte()));
    if (specs.empty()) return 0;
    if (!t->ensureTags(specs)) {
        reportEngine(t->error(), tablePath);
        return kError;
    }
    return 0;
}

// ---- Text helpers ----

QString CopyLeft(const QString& text, int n) {
    return n <= 0 ? QString() : text.left(n);
}

QString CopyRight(const QString& text, int n) {
    return n <= 0 ? QString() : text.right(n);
}

bool IsNumber(const QString& oneChar) {
    return oneChar.size() == 1 && oneChar[0] >= QLatin1Char('0') && oneChar[0] <= QLatin1Char('9');
}

bool IsAlpha(const QString& oneChar) {
    return oneChar.size() == 1 && oneChar[0].isLetter();
}

// ---- Shared helpers ----

bool LocateByField(int table, const QString& field, bool fromNext, const QString& value) {
    if (!entry(table)) return false;
    if ((fromNext ? d4skip(table, 1) : d4top(table)) != 0) return false;
    const QString want = value.trimmed();
    Entry* e = found(table);
    if (!e || fieldOf(*e, field) < 0) return false;
    do {
        if (fetch(table, field).trimmed() == want) return true;
    } while (d4skip(table, 1) == 0);
    return false;
}

bool TableHasField(int table, const QString& name) {
    auto& r = registry();
    const auto it = r.tables.find(table);
    if (it == r.tables.end()) return false;
    return it->second.table->fieldIndex(toLocal(name.trimmed())) >= 0;
}

QString resolvePath(const QString& path) {
    return fromLocal(xb::io::resolveCase(toPath(path)));
}

}  // namespace ta
