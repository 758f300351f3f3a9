// Making tables for the demonstration folder and for tests: an empty table with a given layout, filled
// row by row through the table-access facade.
#pragma once

#include <QString>
#include <QStringList>
#include <vector>

namespace tarvik::demo {

// One field of a layout. Types: C (length), N (length, decimals), L, D, M.
struct FieldSpec {
    QString name;
    char type = 'C';
    int length = 0;  // ignored for L (1), D (8) and M (10)
    int decimals = 0;
};

// Creates an empty FoxPro 2.x table at path (".dbf" added when missing), codepage 1252: header 0xF5 with
// an empty memo file (same name, ".fpt", 64-byte blocks) when the layout has a memo field, else 0x03.
// An existing table of that name is replaced. False (with the reason in error) when it cannot be written.
bool createTable(const QString& path, const std::vector<FieldSpec>& fields, QString* error = nullptr);

// Appends rows to the table at path. Each row gives the values in the order of `fieldNames` (all
// fields of the table in table order when empty). Values are text: logical "T"/"F" (also "Y"/"N",
// "1"/"0"), dates "CCYYMMDD", anything else as written. Uses the run's table context, or opens one for
// the call. False when the table cannot be opened.
bool appendRows(const QString& path, const std::vector<QStringList>& rows,
                const QStringList& fieldNames = {});

// createTable, then appendRows.
bool writeTable(const QString& path, const std::vector<FieldSpec>& fields,
                const std::vector<QStringList>& rows, QString* error = nullptr);

// Every value of one field, trimmed, in table order (deleted records included unless skipDeleted).
QStringList readColumn(const QString& path, const QString& field, bool skipDeleted = false);
// Field names of a table in table order, as stored.
QStringList fieldNames(const QString& path);
// Record count (deleted included); -1 when the table cannot be opened.
int recordCount(const QString& path);

// ---- Layouts of the program's tables, shared by the demonstration builder and the tests ----

// One record of Services.
struct ServiceRow {
    QString service;   // short name of the shipment picker
    QString serviceD;  // description; a leading "-" makes a heading row
    QString dbfField;  // stem of the three Bids fields; empty: no volumes
    int svcCode = 0;
    QString svcLevel;
    bool letter = false;
    QString market;  // D, I or S
};
std::vector<FieldSpec> servicesLayout();
QStringList serviceValues(const ServiceRow& s);  // in servicesLayout() order

// Bids: every field the program reads or writes, with the three volume fields (stem + "1", "2", "p") of
// each stem. sale_strat is a memo. withBrokerage: the newer layout with `brokerage` instead of relying
// on `broker` alone (both layouts keep `broker`); withMob: with `m_o_b`.
std::vector<FieldSpec> bidsLayout(const QStringList& stems, bool withBrokerage = true, bool withMob = true);
// BidTail, with `from_post` when withFromPost.
std::vector<FieldSpec> bidTailLayout(bool withFromPost = true);
// The volume stems of a service list: every non-empty dbf_field, trimmed, in table order, once each.
QStringList stemsOf(const std::vector<ServiceRow>& services);

std::vector<FieldSpec> aeLookUpLayout();    // ae_name SSA_Name ssa_email ASM_Name District racf_id
std::vector<FieldSpec> districtLayout();    // value
std::vector<FieldSpec> industryLayout();    // industry
std::vector<FieldSpec> distSourceLayout();  // dist_src value
std::vector<FieldSpec> pldTypesLayout();    // pld_type
std::vector<FieldSpec> countryLayout();     // code name
std::vector<FieldSpec> postalLayout();      // POSTAL_COD town
std::vector<FieldSpec> usZipLayout();       // ZIP_CODE city state

}  // namespace tarvik::demo
