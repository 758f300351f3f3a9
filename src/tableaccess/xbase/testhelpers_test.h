// Helpers shared by the engine's tests: temporary folders, fixture copies, CSV reading, running
// Debian's Python with the dbf / dbfread modules.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace xbtest {

namespace fs = std::filesystem;

// Tests that need what only the Linux build has (Debian's python3 with python3-dbf and dbfread, fork and
// signals) are skipped on Windows, saying why.
#ifdef _WIN32
#define SKIP_ON_WINDOWS(why) GTEST_SKIP() << "not on Windows: " << why
#else
#define SKIP_ON_WINDOWS(why) static_cast<void>(0)
#endif

// A new folder in the system's temporary folder, named prefix and a random number; / separated.
inline std::string makeTempFolder(const std::string& prefix) {
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path p = fs::temp_directory_path() / (prefix + std::to_string(random()));
        std::error_code ec;
        if (fs::create_directory(p, ec)) return p.generic_string();
    }
    throw std::runtime_error("no temporary folder could be made");
}

// A temporary folder removed at the end of the test.
class TempDir {
  public:
    TempDir() : path_(makeTempFolder("xbtest-")) {}
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline std::string fixture(const std::string& name) {
    return std::string(TARVIK_FIXTURES_DIR) + "/" + name;
}

// Copies the fixture set (dbf, fpt, cdx) into dir, writable.
inline void copyFixture(const std::string& set, const TempDir& dir) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
        const std::string to = dir.file(set + ext);
        fs::copy_file(fixture(set + ext), to, fs::copy_options::overwrite_existing);
        fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::replace);
    }
}

inline std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// RFC 4180 CSV (quoted fields with doubled quotes, CR LF or LF line ends).
inline std::vector<std::vector<std::string>> readCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row;
    std::string cell;
    bool quoted = false, any = false;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < text.size() && text[i + 1] == '"') {
                    cell.push_back('"');
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell.push_back(c);
            }
            continue;
        }
        if (c == '"') {
            quoted = true;
            any = true;
        } else if (c == ',') {
            row.push_back(cell);
            cell.clear();
            any = true;
        } else if (c == '\n' || c == '\r') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (any || !cell.empty()) {
                row.push_back(cell);
                rows.push_back(row);
            }
            row.clear();
            cell.clear();
            any = false;
        } else {
            cell.push_back(c);
            any = true;
        }
    }
    if (any || !cell.empty()) {
        row.push_back(cell);
        rows.push_back(row);
    }
    return rows;
}

inline std::string trimmed(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && s[b] == ' ') ++b;
    while (e > b && s[e - 1] == ' ') --e;
    return s.substr(b, e - b);
}

// Runs Debian's Python (which has the dbf and dbfread modules) on a script; returns its standard
// output, or sets ok false.
inline std::string runPython(const TempDir& dir, const std::string& script, bool& ok) {
    const std::string scriptPath = dir.file("script.py");
    const std::string outPath = dir.file("script.out");
    writeBytes(scriptPath, script);
    const std::string cmd =
        "/usr/bin/python3 '" + scriptPath + "' > '" + outPath + "' 2> '" + outPath + ".err'";
    ok = std::system(cmd.c_str()) == 0;
    if (!ok) ADD_FAILURE() << "python failed: " << readBytes(outPath + ".err");
    return readBytes(outPath);
}

inline bool pythonAvailable() {
    return std::system("/usr/bin/python3 -c 'import dbf, dbfread' > /dev/null 2>&1") == 0;
}

}  // namespace xbtest
