// The parts of the file helpers that are the same on every system: moving a File, whole reads, names.
// The system calls are in fileio_posix.cpp and fileio_windows.cpp.
#include "tableaccess/xbase/fileio.h"

#include <utility>

namespace xb::io {

namespace {
#ifdef _WIN32
constexpr const char* kSeparators = "/\\";
#else
constexpr const char* kSeparators = "/";
#endif
}  // namespace

File::~File() {
    close();
}

File::File(File&& other) noexcept : handle_(other.handle_), path_(std::move(other.path_)) {
    other.handle_ = kClosed;
}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        other.handle_ = kClosed;
    }
    return *this;
}

bool File::readAt(uint64_t offset, void* buffer, size_t n) const {
    return readSomeAt(offset, buffer, n) == static_cast<long long>(n);
}

std::string folderOf(const std::string& path) {
    const auto slash = path.find_last_of(kSeparators);
    if (slash == std::string::npos) return ".";
    if (slash == 0) return path.substr(0, 1);
    return path.substr(0, slash);
}

std::string fileNameOf(const std::string& path) {
    const auto slash = path.find_last_of(kSeparators);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool hasExtension(const std::string& path) {
    const std::string name = fileNameOf(path);
    const auto dot = name.find_last_of('.');
    return dot != std::string::npos && dot > 0;
}

std::string withExtension(const std::string& path, const std::string& ext) {
    const auto slash = path.find_last_of(kSeparators);
    const auto dot = path.find_last_of('.');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash + 1))
        return path.substr(0, dot) + ext;
    return path + ext;
}

}  // namespace xb::io
