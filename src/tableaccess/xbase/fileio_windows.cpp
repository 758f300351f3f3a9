// The file helpers on Windows: handles opened for sharing, positioned ReadFile/WriteFile,
// FlushFileBuffers, MoveFileEx. Paths arrive as UTF-8 and are passed to the wide-character calls.
#ifdef _WIN32

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "tableaccess/xbase/fileio.h"

namespace xb::io {

namespace {

HANDLE handleOf(intptr_t h) {
    return reinterpret_cast<HANDLE>(h);
}

std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) return std::wstring();
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring w(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
    return w;
}

std::string describe(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
            return "No such file or directory";
        case ERROR_ACCESS_DENIED:
            return "Permission denied";
        case ERROR_SHARING_VIOLATION:
            return "the file is in use by another program";
        case ERROR_LOCK_VIOLATION:
            return "a part of the file is locked by another program";
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return "File exists";
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return "No space left on device";
        case ERROR_WRITE_PROTECT:
            return "the disk is write-protected";
        default:
            break;
    }
    char* text = nullptr;
    const DWORD n = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
        code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string s = n && text ? std::string(text, n) : "system error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '.'))
        s.pop_back();
    return s;
}

// Every handle the engine opens lets others read, write, rename and delete the file, as POSIX does:
// a table can be open twice, and a file can be replaced while a reader still has the old one.
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool identityOfHandle(HANDLE h, FileIdentity& out) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) return false;
    out = FileIdentity{info.dwVolumeSerialNumber,
                       (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    return true;
}

// The full path with \ separators, as the NT rename call wants it.
std::wstring fullPath(const std::wstring& path) {
    std::wstring p = path;
    for (wchar_t& c : p)
        if (c == L'/') c = L'\\';
    const DWORD n = GetFullPathNameW(p.c_str(), 0, nullptr, nullptr);
    if (n == 0) return p;
    std::wstring full(n, L'\0');
    const DWORD m = GetFullPathNameW(p.c_str(), n, full.data(), nullptr);
    full.resize(m);
    return full;
}

// Renames source over target with POSIX semantics: the name is taken over even while handles of the old
// file are open (they keep the old file). Windows 10 1607 and later.
bool renameOverOpenFile(const std::wstring& source, const std::wstring& target) {
    HANDLE h = CreateFileW(source.c_str(), DELETE | SYNCHRONIZE, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring to = fullPath(target);
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + to.size() * sizeof(wchar_t) + 16);
    // FILE_RENAME_INFO as Windows 10 reads it for FileRenameInfoEx (22): flags in place of the old
    // ReplaceIfExists byte.
    struct RenameInfo {
        DWORD Flags;
        HANDLE RootDirectory;
        DWORD FileNameLength;
        WCHAR FileName[1];
    };
    constexpr DWORD kReplaceIfExists = 0x1, kPosixSemantics = 0x2;
    constexpr auto kFileRenameInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(22);
    auto* info = reinterpret_cast<RenameInfo*>(buffer.data());
    info->Flags = kReplaceIfExists | kPosixSemantics;
    info->RootDirectory = nullptr;
    info->FileNameLength = static_cast<DWORD>(to.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, to.data(), info->FileNameLength);
    const bool ok =
        SetFileInformationByHandle(h, kFileRenameInfoEx, info, static_cast<DWORD>(buffer.size())) != 0;
    const DWORD code = GetLastError();
    CloseHandle(h);
    SetLastError(code);
    return ok;
}

// Keeps the handle a CreateFileW gave, or says why there is none.
bool adopt(HANDLE h, intptr_t& handle, std::string& error) {
    if (h == INVALID_HANDLE_VALUE) {
        error = lastSystemError();
        return false;
    }
    handle = reinterpret_cast<intptr_t>(h);
    return true;
}

// Where a positioned ReadFile or WriteFile starts.
OVERLAPPED overlappedAt(uint64_t offset) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return at;
}

}  // namespace

bool File::open(const std::string& path, bool write, std::string& error) {
    close();
    const std::wstring name = wide(path);
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        error = "it is a folder";
        return false;
    }
    if (write && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
        error = "the file is marked read-only";
        return false;
    }
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0), kShareAll, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!adopt(h, handle_, error)) return false;
    path_ = path;
    return true;
}

bool File::create(const std::string& path, bool replace, std::string& error) {
    close();
    HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                           replace ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (!adopt(h, handle_, error)) return false;
    path_ = path;
    return true;
}

void File::close() {
    if (handle_ != kClosed) CloseHandle(handleOf(handle_));
    handle_ = kClosed;
}

long long File::readSomeAt(uint64_t offset, void* buffer, size_t n) const {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = overlappedAt(offset + done);
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(handleOf(handle_), p + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<long long>(done);
}

bool File::writeAt(uint64_t offset, const void* buffer, size_t n) {
    const auto* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        OVERLAPPED at = overlappedAt(offset + done);
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(handleOf(handle_), p + done, chunk, &put, &at) || put == 0) return false;
        done += put;
    }
    return true;
}

long long File::size() const {
    LARGE_INTEGER s{};
    if (!GetFileSizeEx(handleOf(handle_), &s)) return -1;
    return static_cast<long long>(s.QuadPart);
}

bool File::truncate(uint64_t length) {
    FILE_END_OF_FILE_INFO eof{};
    eof.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
    return SetFileInformationByHandle(handleOf(handle_), FileEndOfFileInfo, &eof, sizeof eof) != 0;
}

bool File::sync() {
    return FlushFileBuffers(handleOf(handle_)) != 0;
}

void File::startWriteback(uint64_t, uint64_t) {}  // Windows has no such request: sync() writes all

bool File::identity(FileIdentity& out) const {
    return handle_ != kClosed && identityOfHandle(handleOf(handle_), out);
}

std::string lastSystemError() {
    return describe(GetLastError());
}

bool exists(const std::string& path) {
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool identityOf(const std::string& path, FileIdentity& out) {
    // Opening for no access at all reads the identity of a file whatever others have it open for.
    HANDLE h = CreateFileW(wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const bool ok = identityOfHandle(h, out);
    CloseHandle(h);
    return ok;
}

bool removeFile(const std::string& path) {
    return DeleteFileW(wide(path).c_str()) != 0;
}

bool syncFolderOf(const std::string&) {
    // NTFS journals its folders; replaceFile asks MoveFileEx to write the rename through.
    return true;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    const std::wstring source = wide(from), target = wide(to);
    // A target marked read-only is not replaced by MoveFileEx; the engine clears that mark only where
    // its callers ask for it, so it is reported.
    if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    const DWORD code = GetLastError();
    if (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION) {
        error = describe(code);
        return false;
    }
    // The target is open somewhere. Windows 10 can still hand the name over (POSIX semantics), keeping
    // the old file for whoever has it open; elsewhere the target stays as it was.
    if (renameOverOpenFile(source, target)) return true;
    error = describe(code) + " (Windows does not replace a file that is open in this or another program)";
    return false;
}

std::string resolveCase(const std::string& path) {
    // Windows matches names without regard to case itself; the name is given as the folder spells it,
    // as on POSIX, so that the files made beside a table take their name from it.
    const std::string last = fileNameOf(path);
    if (last.empty() || last == "." || last == ".." || last.find_first_of("*?") != std::string::npos)
        return path;
    WIN32_FIND_DATAW found{};
    HANDLE h = FindFirstFileW(wide(path).c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) return path;
    FindClose(h);
    const int n = WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return path;
    std::string name(static_cast<size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, found.cFileName, -1, name.data(), n, nullptr, nullptr);
    const auto slash = path.find_last_of("/\\");
    return slash == std::string::npos ? name : path.substr(0, slash + 1) + name;
}

}  // namespace xb::io

#endif  // _WIN32
