// Fuzz target: reading a table with its memo file and index, as every reading command of dbftool does
// (check, info, dump, dump --deleted, seek) and as the program walks a tag (top, skip, bottom, skip back).
// The command part holds seeks, one "TAG KEY" a line; without it each tag is sought with a few keys.
//
// Oracles: reading changes no file and adds none; the commands end with their documented exit codes;
// a table that passes check is read whole by info and dump, and every seek on it finds or does not find.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"
#include "tableaccess/xbase/cdx.h"
#include "tableaccess/xbase/dbf.h"

namespace {

// Tag names as info lists them (the lines after "Index:", "  NAME: expression ...").
std::vector<std::string> tagsOf(const std::string& info) {
    std::vector<std::string> tags;
    const size_t index = info.find("\nIndex:");
    if (index == std::string::npos) return tags;
    for (const std::string& line : fuzz::linesOf(std::string_view(info).substr(index + 1), 64)) {
        if (line.rfind("  ", 0) != 0) continue;
        const size_t colon = line.find(':');
        if (colon != std::string::npos && colon > 2) tags.push_back(line.substr(2, colon - 2));
    }
    return tags;
}

// Walks every tag both ways through the engine, as the program's grids and pickers do.
void walkTags(const std::string& path) {
    std::string error;
    auto t = xb::Table::open(path, error, true);
    if (!t || !t->index()) return;
    const int tags = t->index()->tagCount();
    const uint32_t limit = t->recordCount() + 2;
    for (int i = 0; i < tags; ++i) {
        if (!t->selectTag(t->index()->tags()[size_t(i)].name)) continue;
        uint32_t steps = 0;
        for (bool ok = t->top(); ok && steps < limit; ok = t->skip(1)) ++steps;
        steps = 0;
        for (bool ok = t->bottom(); ok && steps < limit; ok = t->skip(-1)) ++steps;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto parts = fuzz::splitInput(data, size);
    if (!parts.count('d')) return 0;
    fuzz::writeFiles(parts);
    const fuzz::Snapshot before = fuzz::snapshot();
    const std::string table = fuzz::inScratch("t.dbf");

    const fuzz::Run check = fuzz::dbftool({"check", table});
    const fuzz::Run info = fuzz::dbftool({"info", table});
    const fuzz::Run dump = fuzz::dbftool({"dump", table});
    const fuzz::Run dumpAll = fuzz::dbftool({"dump", table, "--deleted"});
    std::vector<std::pair<std::string, std::string>> seeks;
    const auto command = parts.find('a');
    if (command != parts.end()) {
        for (const std::string& line : fuzz::linesOf(command->second, 8)) {
            const size_t blank = line.find(' ');
            if (blank != std::string::npos) seeks.emplace_back(line.substr(0, blank), line.substr(blank + 1));
        }
    } else {
        for (const std::string& tag : tagsOf(info.out))
            for (const char* key : {"A", "1", "20200101", "T"}) seeks.emplace_back(tag, key);
    }
    std::vector<fuzz::Run> seekRuns;
    for (const auto& [tag, key] : seeks) seekRuns.push_back(fuzz::dbftool({"seek", table, tag, key}));
    walkTags(table);
    fuzz::expectUnchanged(before, "reading");

    if (check.code != 0 && check.code != 1) fuzz::broken("check ended with " + std::to_string(check.code));
    for (const fuzz::Run* r : {&info, &dump, &dumpAll})
        if (r->code != 0 && r->code != 2) fuzz::broken("a read ended with " + std::to_string(r->code));
    if (check.code == 0) {
        if (info.code != 0) fuzz::broken("info failed on a table that passes check: " + info.err);
        if (dump.code != 0) fuzz::broken("dump failed on a table that passes check: " + dump.err);
        if (dumpAll.code != 0)
            fuzz::broken("dump --deleted failed on a table that passes check: " + dumpAll.err);
        // a tag that info lists is sought without an error
        const std::vector<std::string> listed = tagsOf(info.out);
        for (size_t i = 0; i < seekRuns.size(); ++i)
            if (seekRuns[i].code == 2 &&
                std::find(listed.begin(), listed.end(), seeks[i].first) != listed.end())
                fuzz::broken("seek failed on a table that passes check: " + seekRuns[i].err);
    }
    return 0;
}
