// Field values as dbftool writes and reads them in CSV (UTF-8): text without trailing blanks, numbers as
// stored (trimmed), dates CCYYMMDD, logicals T/F, memos in full; Visual FoxPro integers, currency,
// doubles and datetimes (CCYYMMDDhhmmss) as text. Also the record checks of `dbftool check`.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/dbf.h"
#include "tableaccess/xbase/fileio.h"

namespace dbftool {

// The value of field i of the current record as CSV text (UTF-8). False with a message on a read error.
bool fieldToText(xb::Table& table, int i, std::string& out, std::string& error);

// Whether a field of this type holds its value in the memo file (M, G and P).
bool isMemoType(char type);

// Converts CSV text (UTF-8) for a field, checking that it fits: a character the codepage lacks, text
// longer than the field, a number that does not fit, is no number or has more (non-zero) decimals than
// the field keeps, a logical other than T F Y N ? or empty, an impossible date are errors (nothing is cut,
// rounded or guessed).
// The result is a value ready to be appended: text for the engine's setText, or (raw) the exact field
// bytes; out.field is left as it is.
bool textToField(const xb::FieldDesc& field, xb::Codepage cp, uint8_t version, std::string_view text,
                 xb::NewValue& out, std::string& error);

// Checks the header against the file, and every record: deletion flag, numbers, dates, logicals and
// memo pointers (each memo must be readable). Appends one line per fault. The records are read by
// readAll, which hands each piece it reads to the function it is given (the check of the index reads
// them so, for both checks at once); without it, here.
void checkTable(xb::Table& table, std::vector<std::string>& faults,
                const std::function<void(const xb::RecordPiece&)>& readAll = {});

// Calendar helpers (Gregorian): julian day number <-> date.
int64_t julianDay(int year, int month, int day);
void fromJulianDay(int64_t jd, int& year, int& month, int& day);
bool validDate(int year, int month, int day);

}  // namespace dbftool
