// Benchmarks that read from the disk: a file's pages dropped from the system's cache, so that the next
// reading of it comes from the disk (as the first reading after a copy or a restart does).
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <string>

inline bool dropFromCache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    const bool ok = ::fdatasync(fd) == 0 && ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) == 0;
    ::close(fd);
    return ok;
}
