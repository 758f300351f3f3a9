// Fuzz target: the CSV reader of dbftool load, and the conversion of its values for each kind of field.
//
// Oracles: rows the reader accepts, written again as CSV, read back as the same rows; a row the reader
// calls 7-bit text holds no character of 0x80 or above (load copies such rows as they are); every value the
// conversion accepts for a field is taken by the engine for that field (load checks every value before
// it writes a record, so a value it accepts must never be refused while it writes).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "csv.h"
#include "harness.h"
#include "tableaccess/xbase/dbf.h"
#include "values.h"

namespace {

// Tables of every kind of field the conversion knows, made once in the scratch folder; their first
// record takes the values (in the record buffer only: nothing is written).
struct Targets {
    std::vector<std::unique_ptr<xb::Table>> tables;
    Targets() {
        std::string error;
        const auto make = [&](const char* name, xb::Format format, uint8_t codepage,
                              const std::vector<xb::NewField>& fields) {
            auto t = xb::Table::create(fuzz::inScratch(name), fields, format, codepage, error);
            if (!t || !t->appendBlank()) fuzz::broken("cannot make a table to load into: " + error);
            tables.push_back(std::move(t));
        };
        make("fox.dbf", xb::Format::Fox2, 0x03,
             {{"C", 'C', 12},
              {"N", 'N', 8, 2},
              {"F", 'F', 12, 4},
              {"L", 'L', 1},
              {"D", 'D', 8},
              {"W", 'N', 3}});
        make("dos.dbf", xb::Format::DBase3, 0x01, {{"C", 'C', 5}, {"N", 'N', 20, 0}, {"D", 'D', 8}});
        make("vfp.dbf", xb::Format::Vfp, 0x02,
             {{"C", 'C', 10}, {"I", 'I', 4}, {"Y", 'Y', 8, 4}, {"B", 'B', 8}, {"T", 'T', 8}, {"L", 'L', 1}});
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Targets targets;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<std::vector<std::string>> rows, again;
    std::string error;
    if (!dbftool::csvParse(text, rows, error)) {
        if (error.empty()) fuzz::broken("a CSV text was refused without a reason");
        return 0;
    }
    {
        dbftool::CsvReader reader(text);
        std::vector<std::string_view> row;
        while (reader.next(row))
            if (reader.rowIs7Bit())
                for (const std::string_view value : row)
                    for (const char c : value)
                        if (static_cast<uint8_t>(c) >= 0x80)
                            fuzz::broken("a row called 7-bit text holds a character of 0x80 or above");
    }
    std::string written;
    for (const auto& row : rows) written += dbftool::csvRecord(row) + "\r\n";
    if (!dbftool::csvParse(written, again, error)) fuzz::broken("written rows do not read back: " + error);
    // A row of one empty value is written as a blank line, which reads back as that row.
    if (again != rows) fuzz::broken("written rows read back otherwise");

    size_t values = 0;
    for (const auto& row : rows)
        for (const std::string& value : row) {
            if (++values > 64) return 0;
            for (auto& t : targets.tables) {
                const xb::Codepage cp = xb::codepageFromByte(t->codepageByte());
                for (int i = 0; i < t->fieldCount(); ++i) {
                    xb::NewValue v;
                    if (!dbftool::textToField(t->fields()[size_t(i)], cp, t->version(), value, v, error))
                        continue;
                    const bool taken = v.raw ? t->setRawField(i, v.bytes) : t->setText(i, v.bytes);
                    if (!taken)
                        fuzz::broken("load accepts \"" + value + "\" for field " +
                                     t->fields()[size_t(i)].name + " of " + t->path() +
                                     ", the engine refuses it: " + t->error());
                }
            }
        }
    return 0;
}
