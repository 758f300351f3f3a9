// Helpers of the dbftool tests: temporary folders, running programs, files, CSV comparisons.
#pragma once

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "csv.h"
#include "tableaccess/xbase/testhelpers_test.h"

namespace dbftool::test {

namespace fs = std::filesystem;

inline const std::string kTool = DBFTOOL_PATH;
inline const std::string kFixtures = TARVIK_FIXTURES_DIR;
inline const std::string kPython = SYSTEM_PYTHON;

// A temporary folder removed with everything in it.
class TempDir {
  public:
    TempDir() : path_(xbtest::makeTempFolder("dbftool-test-")) {}
    ~TempDir() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

inline void writeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << data;
}

struct RunResult {
    int rc = -1;
    std::string out, err;
};

#ifdef _WIN32
inline std::wstring wideOf(const std::string& utf8) {
    std::wstring w(utf8.size(), L'\0');
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), int(utf8.size()), w.data(), int(w.size()));
    w.resize(size_t(n > 0 ? n : 0));
    return w;
}

// One argument of a Windows command line, quoted as the C runtime splits it again.
inline std::wstring quotedArgument(const std::wstring& a) {
    if (!a.empty() && a.find_first_of(L" \t\"") == std::wstring::npos) return a;
    std::wstring q = L"\"";
    size_t slashes = 0;
    for (wchar_t c : a) {
        if (c == L'\\') {
            ++slashes;
            continue;
        }
        q.append(c == L'"' ? slashes * 2 + 1 : slashes, L'\\');
        slashes = 0;
        q.push_back(c);
    }
    q.append(slashes * 2, L'\\');
    q.push_back(L'"');
    return q;
}
#endif

// Runs a program with arguments (no shell); stdout and stderr are collected through files.
inline RunResult runProgram(const std::vector<std::string>& argv, const std::string& stdinText = {}) {
    TempDir io;
    const std::string outPath = io / "out", errPath = io / "err", inPath = io / "in";
    writeFile(inPath, stdinText);
    RunResult r;
#ifdef _WIN32
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    auto openStd = [&](const std::string& path, bool write) {
        return CreateFileW(wideOf(path).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                           write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    };
    HANDLE in = openStd(inPath, false), out = openStd(outPath, true), err = openStd(errPath, true);
    std::wstring line;
    for (const auto& a : argv) line += (line.empty() ? L"" : L" ") + quotedArgument(wideOf(a));
    STARTUPINFOW si{};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = in;
    si.hStdOutput = out;
    si.hStdError = err;
    PROCESS_INFORMATION pi{};
    // A start can fail for a moment when the system is short of something (Wine under load): tried again.
    bool started = false;
    DWORD startError = 0;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        if (attempt > 0) Sleep(200 * attempt);
        started = CreateProcessW(wideOf(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                 nullptr, &si, &pi) != 0;
        if (!started) startError = GetLastError();
    }
    if (started) {
        WaitForSingleObject(pi.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(pi.hProcess, &code);
        r.rc = int(code);
        CloseHandle(pi.hProcess);
        CloseHandle(pi.hThread);
    } else {
        r.rc = 127;
    }
    for (HANDLE h : {in, out, err}) CloseHandle(h);
    if (!started) {
        r.err = "CreateProcessW failed with error " + std::to_string(startError);
        return r;
    }
#else
    pid_t pid = fork();
    if (pid == 0) {
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    r.rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    r.out = readFile(outPath);
    r.err = readFile(errPath);
    return r;
}

// Sets (or, given nullptr, removes) a variable of the environment the programs run by the tests inherit.
inline void setEnvironment(const char* name, const char* value) {
#ifdef _WIN32
    _putenv_s(name, value ? value : "");
#else
    if (value)
        setenv(name, value, 1);
    else
        unsetenv(name);
#endif
}

inline RunResult tool(std::vector<std::string> args) {
    args.insert(args.begin(), kTool);
    return runProgram(args);
}

// Runs a Python script with Debian's interpreter (where python3-dbf and python3-dbfread live).
inline RunResult python(const std::string& script, std::vector<std::string> args = {}) {
    TempDir d;
    const std::string path = d / "script.py";
    writeFile(path, script);
    args.insert(args.begin(), path);
    args.insert(args.begin(), kPython);
    return runProgram(args);
}

// Copies a fixture set (dbf, fpt, cdx) into folder; returns the .dbf path.
inline std::string copyFixture(const TempDir& dir, const std::string& base) {
    for (const char* ext : {".dbf", ".fpt", ".cdx"}) {
        fs::copy_file(kFixtures + "/" + base + ext, dir / (base + ext), fs::copy_options::overwrite_existing);
        fs::permissions(dir / (base + ext), fs::perms::owner_read | fs::perms::owner_write);
    }
    return dir / (base + ".dbf");
}

inline std::vector<std::vector<std::string>> parseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    std::string error;
    EXPECT_TRUE(csvParse(text, rows, error)) << error;
    return rows;
}

// Number of characters in UTF-8 text.
inline size_t utf8Length(const std::string& s) {
    size_t n = 0;
    for (unsigned char c : s)
        if ((c & 0xC0) != 0x80) ++n;
    return n;
}

inline bool sameNumber(const std::string& a, const std::string& b) {
    if (a.empty() || b.empty())
        return a.empty() == b.empty() || std::strtod((a.empty() ? b : a).c_str(), nullptr) == 0;
    const double x = std::strtod(a.c_str(), nullptr), y = std::strtod(b.c_str(), nullptr);
    return std::fabs(x - y) <= 1e-9 * std::max(1.0, std::fabs(x));
}

// Compares two CSV tables cell by cell; types gives each column's field type (numbers compare by value,
// everything else exactly). Header rows are compared without regard to case.
inline void expectSameTable(const std::vector<std::vector<std::string>>& expected,
                            const std::vector<std::vector<std::string>>& actual, const std::string& types,
                            const std::string& what) {
    ASSERT_EQ(expected.size(), actual.size()) << what << ": row count";
    for (size_t r = 0; r < expected.size(); ++r) {
        ASSERT_EQ(expected[r].size(), actual[r].size()) << what << ": columns of row " << r;
        for (size_t c = 0; c < expected[r].size(); ++c) {
            const char t = c < types.size() ? types[c] : 'C';
            if (r == 0) {
                std::string a = expected[r][c], b = actual[r][c];
                for (auto* s : {&a, &b})
                    for (char& ch : *s) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
                EXPECT_EQ(a, b) << what << ": header column " << c;
            } else if (t == 'N' || t == 'F' || t == 'I' || t == 'B' || t == 'Y') {
                EXPECT_TRUE(sameNumber(expected[r][c], actual[r][c]))
                    << what << ": row " << r << " column " << expected[0][c] << ": expected '"
                    << expected[r][c] << "', got '" << actual[r][c] << "'";
            } else {
                EXPECT_EQ(expected[r][c], actual[r][c])
                    << what << ": row " << r << " column " << expected[0][c];
            }
        }
    }
}

}  // namespace dbftool::test
