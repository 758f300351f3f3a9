// File helpers of the xBase engine: positioned reads and writes on a descriptor, flushes that reach
// the disk, atomic replacement of a file, and file names matched without regard to case.
#pragma once

#include <cstdint>
#include <string>

namespace xb::io {

// A file descriptor that closes itself.
class File {
  public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading (and writing when write is true; a file without any write
    // permission bit is refused for writing even where the system would allow it).
    bool open(const std::string& path, bool write, std::string& error);
    // Creates a new file for reading and writing; fails when it exists unless replace is true.
    bool create(const std::string& path, bool replace, std::string& error);
    void close();
    bool isOpen() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    const std::string& path() const { return path_; }

    // Exactly n bytes at offset; false on a short read or an error.
    bool readAt(uint64_t offset, void* buffer, size_t n) const;
    // As many bytes as there are (up to n); -1 on error.
    long long readSomeAt(uint64_t offset, void* buffer, size_t n) const;
    bool writeAt(uint64_t offset, const void* buffer, size_t n);
    // Current size; -1 on error.
    long long size() const;
    bool truncate(uint64_t length);
    bool sync();  // fdatasync/fsync: the data and the size reach the disk

  private:
    int fd_ = -1;
    std::string path_;
};

// The text of errno for messages.
std::string lastSystemError();

bool exists(const std::string& path);
bool removeFile(const std::string& path);
// Flushes the folder that holds path, so that a rename or creation in it is durable.
bool syncFolderOf(const std::string& path);
// Renames from over to (atomic on POSIX) and flushes the folder.
bool replaceFile(const std::string& from, const std::string& to, std::string& error);

std::string folderOf(const std::string& path);  // "." when path has no folder part
std::string fileNameOf(const std::string& path);
// path with its extension (after the last '.' of the file name) replaced by ext (given with its dot);
// ext is added when there is none.
std::string withExtension(const std::string& path, const std::string& ext);
bool hasExtension(const std::string& path);

// The existing file in path's folder whose name equals path's file name without regard to case (the
// exact name first); path unchanged when there is none.
std::string resolveCase(const std::string& path);

}  // namespace xb::io
