// Fuzz target: writing on a table with its memo file and index. The command part's first line names
// the command:
//   pack                      dbftool pack
//   index / TAG / EXPR [/ --descending / --unique]   (one a line) dbftool index
//   load                      dbftool load of the CSV part
//   copy                      copyStructure to a new table beside
//   edit                      the table editor's path, one operation a line:
//       go N | skip N | tag NAME | seek KEY | set FIELD TEXT | memo FIELD COUNT CHAR | append | delete |
//       recall | flush
//
// Oracles: a command (and each operation of an edit) that fails leaves every file byte for byte as it
// was, and adds none; one that succeeds leaves a table that still opens, and passes check when it passed
// check before. Opening the table for writing, which finishes an interrupted pack, is held to the same
// oracle first.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "tableaccess/xbase/dbf.h"

namespace {

// One operation of an edit with its oracle: when it fails, the files are as they were before it.
bool step(const char* what, const std::function<bool()>& op) {
    const fuzz::Snapshot before = fuzz::snapshot();
    const bool ok = op();
    if (!ok) fuzz::expectUnchanged(before, what);
    return ok;
}

int fieldOf(xb::Table& t, const std::string& name) {
    const int byName = t.fieldIndex(name);
    if (byName >= 0) return byName;
    return t.fieldCount() > 0 ? int(std::strtoul(name.c_str(), nullptr, 10) % unsigned(t.fieldCount())) : -1;
}

// The table editor's path: operations on an open table, each written as the editor writes it.
bool edit(const std::vector<std::string>& ops) {
    std::string error;
    std::unique_ptr<xb::Table> t;
    if (!step("open for writing", [&] { return bool(t = xb::Table::open(fuzz::inScratch("t.dbf"), error)); }))
        return false;
    // A move writes the pending record first: that write is an operation of its own.
    const auto flush = [&] { return step("flush", [&] { return t->flush(); }); };
    for (size_t i = 1; i < ops.size(); ++i) {
        const std::string& line = ops[i];
        const size_t blank = line.find(' ');
        const std::string op = line.substr(0, blank);
        const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
        const long n = std::strtol(rest.c_str(), nullptr, 10);
        if (op == "go") {
            if (flush()) step("go", [&] { return t->go(uint32_t(n)); });
        } else if (op == "skip") {
            if (flush()) step("skip", [&] { return t->skip(int(n % 1000)); });
        } else if (op == "tag") {
            if (flush()) step("select a tag", [&] { return t->selectTag(rest); });
        } else if (op == "seek") {
            if (flush()) step("seek", [&] { return t->seek(rest); });
        } else if (op == "set") {
            const size_t sep = rest.find(' ');
            const int field = fieldOf(*t, rest.substr(0, sep));
            const std::string text = sep == std::string::npos ? std::string() : rest.substr(sep + 1);
            step("set a field", [&] { return t->setText(field, text); });
        } else if (op == "memo") {
            char name[16] = {}, fill = 'm';
            unsigned long count = 0;
            std::sscanf(rest.c_str(), "%15s %lu %c", name, &count, &fill);
            const std::string text(count % 5000, fill);
            step("write a memo", [&] { return t->setText(fieldOf(*t, name), text); });
        } else if (op == "append") {
            if (flush()) step("append", [&] { return t->appendBlank(); });
        } else if (op == "delete") {
            if (flush()) step("delete", [&] { return t->deleteRecord(); });
        } else if (op == "recall") {
            if (flush()) step("recall", [&] { return t->recall(); });
        } else if (op == "flush") {
            flush();
        }
    }
    const bool ok = flush();
    t.reset();
    return ok;
}

bool copyStructure() {
    std::string error;
    auto t = xb::Table::open(fuzz::inScratch("t.dbf"), error, true);
    if (!t) return false;
    return bool(t->copyStructure(fuzz::inScratch("c.dbf"), error));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzz::splitInput(data, size);
    const auto command = parts.find('a');
    if (!parts.count('d') || command == parts.end()) return 0;
    const std::vector<std::string> lines = fuzz::linesOf(command->second, 48);
    if (lines.empty()) return 0;
    fuzz::writeFiles(parts);
    const std::string table = fuzz::inScratch("t.dbf");
    // Opening for writing finishes or undoes an interrupted pack and removes what a pack left before its
    // commit: held to its own oracle, before the command's.
    {
        std::string error;
        std::unique_ptr<xb::Table> t;
        if (!step("open for writing", [&] { return bool(t = xb::Table::open(table, error)); })) return 0;
    }
    const bool openedBefore = fuzz::dbftool({"info", table}).code == 0;
    const bool soundBefore = fuzz::dbftool({"check", table}).code == 0;
    const fuzz::Snapshot before = fuzz::snapshot();

    const std::string& name = lines[0];
    bool ok = false;
    if (name == "pack") {
        ok = fuzz::dbftool({"pack", table}).code == 0;
    } else if (name == "index" && lines.size() >= 3) {
        std::vector<std::string> args{"index", table, lines[1], lines[2]};
        for (size_t i = 3; i < lines.size() && i < 5; ++i) args.push_back(lines[i]);
        ok = fuzz::dbftool(args).code == 0;
    } else if (name == "load") {
        ok = fuzz::dbftool({"load", table, fuzz::inScratch("in.csv")}).code == 0;
    } else if (name == "copy") {
        ok = copyStructure();
        if (ok) {
            const fuzz::Run copy = fuzz::dbftool({"check", fuzz::inScratch("c.dbf")});
            if (copy.code != 0) fuzz::broken("the copy of the structure fails check: " + copy.out);
        }
    } else if (name == "edit") {
        ok = edit(lines);
    } else {
        return 0;
    }
    if (!ok) {
        // An edit's operations were each held to the oracle; what the others did is the command's.
        if (name != "edit") fuzz::expectUnchanged(before, name);
        return 0;
    }
    if (openedBefore && fuzz::dbftool({"info", table}).code != 0)
        fuzz::broken(name + " succeeded, but the table no longer opens");
    if (soundBefore) {
        const fuzz::Run after = fuzz::dbftool({"check", table});
        if (after.code != 0)
            fuzz::broken(name + " succeeded on a sound table, which then fails check: " + after.out);
    }
    return 0;
}
