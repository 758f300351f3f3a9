#include "harness.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "commands.h"

namespace fuzz {
namespace fs = std::filesystem;

std::map<char, std::string> splitInput(const uint8_t* data, size_t size) {
    std::map<char, std::string> parts;
    const std::string_view in(reinterpret_cast<const char*>(data), size);
    size_t at = in.find("@@");
    while (at != std::string_view::npos && at + 3 < in.size()) {
        const char letter = in[at + 2];
        size_t begin = at + 3;
        if (in[begin] == '\n') ++begin;
        const size_t next = in.find("@@", begin);
        parts[letter] =
            std::string(in.substr(begin, next == std::string_view::npos ? in.npos : next - begin));
        at = next;
    }
    return parts;
}

std::string fileOf(char letter) {
    switch (letter) {
        case 'd':
            return "t.dbf";
        case 'f':
            return "t.fpt";
        case 'b':
            return "t.dbt";
        case 'c':
            return "t.cdx";
        case 's':
            return "in.csv";
        case 'm':
            return "t.dbf.packing~";
        case 'p':
            return "t.dbf.pack~";
        case 'q':
            return "t.fpt.pack~";
        case 'r':
            return "t.cdx.pack~";
        default:
            return {};
    }
}

namespace {
std::string& scratchPath() {
    static std::string path;
    return path;
}
void removeScratch() {
    std::error_code ec;
    if (!scratchPath().empty()) fs::remove_all(scratchPath(), ec);
}
}  // namespace

const std::string& scratch() {
    std::string& path = scratchPath();
    if (path.empty()) {
        std::string tmpl = (fs::temp_directory_path() / "xbase-fuzz-XXXXXX").string();
        if (!::mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        path = tmpl;
        std::atexit(removeScratch);
    }
    return path;
}

std::string inScratch(const std::string& name) {
    return scratch() + "/" + name;
}

void writeFiles(const std::map<char, std::string>& parts) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(scratch(), ec)) fs::remove_all(e.path(), ec);
    for (const auto& [letter, bytes] : parts) {
        const std::string name = fileOf(letter);
        if (name.empty()) continue;
        std::ofstream out(inScratch(name), std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), std::streamsize(bytes.size()));
    }
}

Snapshot snapshot() {
    Snapshot s;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(scratch(), ec)) {
        std::ifstream in(e.path(), std::ios::binary);
        s[e.path().filename().string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return s;
}

Run dbftool(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    Run r;
    r.code = dbftool::run(args, out, err);
    r.out = out.str();
    r.err = err.str();
    return r;
}

std::vector<std::string> linesOf(std::string_view text, size_t max) {
    std::vector<std::string> lines;
    while (!text.empty() && lines.size() < max) {
        const size_t end = text.find('\n');
        std::string line(text.substr(0, end));
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

void broken(const std::string& what) {
    std::fprintf(stderr, "\n*** oracle broken: %s\n", what.c_str());
    std::fflush(stderr);
    std::abort();
}

void expectUnchanged(const Snapshot& before, const std::string& what) {
    const Snapshot after = snapshot();
    if (after == before) return;
    std::string diff;
    for (const auto& [name, bytes] : after) {
        const auto it = before.find(name);
        if (it == before.end())
            diff += " added " + name + ";";
        else if (it->second != bytes)
            diff += " changed " + name + ";";
    }
    for (const auto& [name, bytes] : before)
        if (!after.count(name)) diff += " removed " + name + ";";
    broken(what + " failed but changed the files:" + diff);
}

}  // namespace fuzz
