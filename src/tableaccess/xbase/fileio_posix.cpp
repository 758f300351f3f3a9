// The file helpers on POSIX systems: descriptors, pread/pwrite, fsync, rename.
#ifndef _WIN32

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tableaccess/xbase/fileio.h"

namespace xb::io {

namespace {
int fdOf(intptr_t handle) {
    return static_cast<int>(handle);
}
}  // namespace

bool File::open(const std::string& path, bool write, std::string& error) {
    close();
    handle_ = ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
    if (handle_ < 0) {
        handle_ = kClosed;
        error = lastSystemError();
        return false;
    }
    struct stat st {};
    if (fstat(fdOf(handle_), &st) == 0 && S_ISDIR(st.st_mode)) {
        close();
        error = "it is a folder";
        return false;
    }
    if (write && (st.st_mode & 0222) == 0) {
        // A file marked read-only stays unwritten, also for a user whom the system would let write.
        close();
        error = "the file is marked read-only";
        return false;
    }
    path_ = path;
    return true;
}

bool File::create(const std::string& path, bool replace, std::string& error) {
    close();
    handle_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | (replace ? O_TRUNC : O_EXCL), 0644);
    if (handle_ < 0) {
        handle_ = kClosed;
        error = lastSystemError();
        return false;
    }
    path_ = path;
    return true;
}

void File::close() {
    if (handle_ != kClosed) ::close(fdOf(handle_));
    handle_ = kClosed;
}

long long File::readSomeAt(uint64_t offset, void* buffer, size_t n) const {
    auto* p = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fdOf(handle_), p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        done += static_cast<size_t>(r);
    }
    return static_cast<long long>(done);
}

bool File::writeAt(uint64_t offset, const void* buffer, size_t n) {
    const auto* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pwrite(fdOf(handle_), p + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<size_t>(r);
    }
    return true;
}

long long File::size() const {
    struct stat st {};
    if (fstat(fdOf(handle_), &st) != 0) return -1;
    return static_cast<long long>(st.st_size);
}

bool File::truncate(uint64_t length) {
    return ::ftruncate(fdOf(handle_), static_cast<off_t>(length)) == 0;
}

bool File::sync() {
    return ::fsync(fdOf(handle_)) == 0;
}

void File::startWriteback(uint64_t offset, uint64_t n) {
#ifdef __linux__
    ::sync_file_range(fdOf(handle_), static_cast<off_t>(offset), static_cast<off_t>(n),
                      SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)n;
#endif
}

std::string lastSystemError() {
    return std::strerror(errno);
}

bool File::identity(FileIdentity& out) const {
    struct stat st {};
    if (handle_ == kClosed || fstat(fdOf(handle_), &st) != 0) return false;
    out = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool identityOf(const std::string& path, FileIdentity& out) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    out = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
    return true;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool removeFile(const std::string& path) {
    return ::unlink(path.c_str()) == 0;
}

bool syncFolderOf(const std::string& path) {
    const int fd = ::open(folderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        error = lastSystemError();
        return false;
    }
    syncFolderOf(to);
    return true;
}

std::string resolveCase(const std::string& path) {
    if (exists(path)) return path;
    const std::string folder = folderOf(path);
    const std::string name = fileNameOf(path);
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return path;
    std::string found;
    while (dirent* e = ::readdir(dir)) {
        if (::strcasecmp(e->d_name, name.c_str()) == 0) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(dir);
    if (found.empty()) return path;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? found : path.substr(0, slash + 1) + found;
}

}  // namespace xb::io

#endif  // !_WIN32
