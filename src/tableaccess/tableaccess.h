// The table-access facade: the one way the program reaches its tables.
//
// The names are those the rest of the program has always called (OpenData, mOpen, d4top, fetch,
// replace, ...). Underneath is the xBase engine of xbase/; this layer only keeps the handle registry,
// converts text between QString and the table's codepage, and routes every error to one report
// callback. Return codes: 0 means success; the end of a table and "not found" are non-zero.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <functional>
#include <vector>

namespace ta {

// The one table-access context of a run. Opened at start-up, closed at exit.
struct DataContextImpl;
using DataContext = DataContextImpl*;

// A field of an open table, as d4field / d4fieldJ give it. Converts to false when there is no field.
struct Field4 {
    int table = 0;   // table handle
    int index = -1;  // 0-based field position
    explicit operator bool() const { return table > 0 && index >= 0; }
};

// One entry of d4fieldInfo.
struct FieldInfo {
    QString name;
    char type = 'C';
    int length = 0;
    int decimals = 0;
};

// One tag for CreateIndex / CheckForTag. An entry with an empty name ends a list.
struct TagInfo {
    QString name;
    QString expression;
    QString filter;
    int unique = 0;
    int descending = 0;
};

// Error reports: file (full path as opened, or empty), and a plain sentence. Exactly one handler is
// installed at a time; the default one writes to stderr. Returns the previous handler.
using ErrorHandler = std::function<void(const QString& file, const QString& problem)>;
ErrorHandler setErrorHandler(ErrorHandler handler);

// ---- Context and tables ----
DataContext OpenData();
void CloseData(DataContext ctx);
// The context of the run (the one OpenData returned last and CloseData has not closed), or nullptr.
DataContext currentContext();

// Opens the table at path (".dbf" optional, file name matched without regard to case) with its memo
// file and production index; selects tag (case-insensitive) when it is not empty. Returns a handle > 0,
// or 0 (reported) when the table cannot be opened.
int mOpen(DataContext ctx, const QString& path, const QString& tag = QString());
int d4close(int table);

// ---- Position ----
int d4top(int table);
int d4bottom(int table);
int d4skip(int table, int n);  // n = 1 or -1; non-zero at the end / start of the table
int d4go(int table, int recno);
int d4recNo(int table);
int d4recCountDo(int table);  // deleted records included
// Seeks key on the selected tag: the key is padded with blanks to the tag's key length and must match a
// stored key exactly. An empty key, or one longer than the tag's key, never matches. 0 when found (the
// record becomes current).
int d4seek(int table, const QString& key);

// ---- Fields of the current record, by name (case-insensitive) ----
QString fetch(int table, const QString& field);  // text without trailing blanks; empty date -> ""
QString fetch(int table, const char* field);     // the same, the name given as UTF-8 (as a literal)
int replace(int table, const QString& field, const QString& text);
int ifetch(int table, const QString& field);
int ireplace(int table, const QString& field, int value);
double dfetch(int table, const QString& field);
int dreplace(int table, const QString& field, double value);
bool tfetch(int table, const QString& field);
int treplace(int table, const QString& field, bool value);
QDate dtfetch(int table, const QString& field);                      // invalid QDate when blank
int dtreplace(int table, const QString& field, const QDate& value);  // invalid date clears

// ---- Records ----
int d4appendBlank(int table);
int d4delete(int table);
int d4recall(int table);
int d4deleted(int table);  // non-zero when the current record is marked deleted
int d4pack(int table);

// ---- Structure ----
int d4numFields(int table);
Field4 d4fieldJ(int table, int j);  // j from 1
Field4 d4field(int table, const QString& name);
int d4fieldNumber(int table, const QString& name);  // 1-based, 0 when absent (reported unless switched off)
std::vector<FieldInfo> d4fieldInfo(int table);
char f4type(Field4 f);
QString f4name(Field4 f);
int f4len(Field4 f);
int f4decimals(Field4 f);
QString f4str(Field4 f);      // as stored, trailing blanks kept (memo: its text)
QString f4memoStr(Field4 f);  // text of any field kind, memos in full
int f4assign(Field4 f, const QString& text);
int f4memoAssign(Field4 f, const QString& text);
// While flag is 0, an unknown field name is not reported. Returns the previous flag.
int code4errFieldName(DataContext ctx, int flag);

// ---- Files ----
// Makes an empty table at newPath with the layout of the open table source (same version, codepage,
// fields; an empty memo file when the source has memo fields; no index). 0 on success.
int CopyStru(int source, const QString& newPath);
// Appends a copy of source's current record (memos included) to target. 0 on success.
int AppendRecord(int source, int target);
int CreateIndex(DataContext ctx, const QString& tablePath, const std::vector<TagInfo>& tags);
int CheckForTag(DataContext ctx, const QString& tablePath, const std::vector<TagInfo>& tags);

// ---- Text helpers ----
QString CopyLeft(const QString& text, int n);
QString CopyRight(const QString& text, int n);
bool IsNumber(const QString& oneChar);
bool IsAlpha(const QString& oneChar);

// ---- Shared helpers over the calls above ----
// Sequential search: from the top (fromNext false) or the record after the current one; compares the
// field's trimmed text with the trimmed value exactly. True with the record current on a match.
bool LocateByField(int table, const QString& field, bool fromNext, const QString& value);
// True when the open table has a field of that name (case-insensitive). Reports nothing.
bool TableHasField(int table, const QString& name);

// Finds a file in folder whose name equals name without regard to case; returns its real path, or
// folder + "/" + name when there is none.
QString resolvePath(const QString& path);

}  // namespace ta
