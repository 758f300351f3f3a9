// What the fuzz targets share: one input holds the files of a table (and a command), which are written
// into a scratch folder of the process; the oracles compare the folder before and after a command.
//
// An input is a sequence of parts, each starting with "@@" and a letter naming its file, then a line
// end; bytes before the first part are ignored. The letters (and nothing else: no name in an input
// reaches the file system):
//   d t.dbf   f t.fpt   b t.dbt   c t.cdx   s in.csv   a the command (text lines)
//   m t.dbf.packing~   p t.dbf.pack~   q t.fpt.pack~   r t.cdx.pack~   (leftovers of a pack)
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace fuzz {

// The parts of an input by letter (a letter given twice: the last part counts).
std::map<char, std::string> splitInput(const uint8_t* data, size_t size);

// The file name a letter stands for; empty for a letter that is no file (a, or unknown).
std::string fileOf(char letter);

// The process's scratch folder (made on first use, removed at exit). Its files are replaced by each
// input's with writeFiles, which empties the folder first.
const std::string& scratch();
void writeFiles(const std::map<char, std::string>& parts);
std::string inScratch(const std::string& name);

// Every file of the scratch folder with its bytes.
using Snapshot = std::map<std::string, std::string>;
Snapshot snapshot();

// Runs a dbftool command (arguments after the program name) in this process; gives its exit code and
// its output lines.
struct Run {
    int code = 0;
    std::string out, err;
};
Run dbftool(const std::vector<std::string>& args);

// The lines of a text (without line ends), at most max of them.
std::vector<std::string> linesOf(std::string_view text, size_t max);

// A broken oracle: prints what was expected and the input's files, then aborts (a finding for libFuzzer,
// a failure for the replay).
[[noreturn]] void broken(const std::string& what);
// broken() unless the folder is as it was; what names the command.
void expectUnchanged(const Snapshot& before, const std::string& what);

}  // namespace fuzz
