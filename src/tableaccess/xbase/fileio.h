// File helpers of the xBase engine: positioned reads and writes on an open file, flushes that reach
// the disk, atomic replacement of a file, and file names matched without regard to case.
//
// This is the engine's one platform layer: fileio_posix.cpp (Linux and other POSIX systems) and
// fileio_windows.cpp (Windows: wide-character paths from UTF-8, files opened for sharing with other
// readers and writers and with renames, MoveFileEx to replace) implement it; fileio.cpp holds the parts
// about names that are the same everywhere. Paths are UTF-8; on Windows both / and \ separate folders.
#pragma once

#include <cstdint>
#include <string>

namespace xb::io {

// Which file a name or an open file is (device and file number): two equal identities are the same file.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t file = 0;
    bool operator==(const FileIdentity&) const = default;
};

// An open file that closes itself.
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
    bool isOpen() const { return handle_ != kClosed; }
    const std::string& path() const { return path_; }

    // Exactly n bytes at offset; false on a short read or an error.
    bool readAt(uint64_t offset, void* buffer, size_t n) const;
    // As many bytes as there are (up to n); -1 on error.
    long long readSomeAt(uint64_t offset, void* buffer, size_t n) const;
    bool writeAt(uint64_t offset, const void* buffer, size_t n);
    // Current size; -1 on error.
    long long size() const;
    bool truncate(uint64_t length);
    bool sync();  // fsync / FlushFileBuffers: the data and the size reach the disk
    // Asks the system to start writing these bytes to the disk now, without waiting for it (where the
    // system can be asked; elsewhere nothing happens), so that a sync after a large write has less left
    // to wait for. It promises nothing: only sync() makes the bytes durable.
    void startWriteback(uint64_t offset, uint64_t n);
    // Which file is open (false when that cannot be told).
    bool identity(FileIdentity& out) const;

  private:
    static constexpr intptr_t kClosed = -1;  // a POSIX descriptor, or a Windows HANDLE
    intptr_t handle_ = kClosed;
    std::string path_;
};

// The text of the last failed system call (errno, or Windows' last error) for messages.
std::string lastSystemError();

bool exists(const std::string& path);
// Which file is at path now (false when there is none).
bool identityOf(const std::string& path, FileIdentity& out);
bool removeFile(const std::string& path);
// Flushes the folder that holds path, so that a rename or creation in it is durable.
bool syncFolderOf(const std::string& path);
// Renames from over to in one step, so that `to` is at every moment either the old file or the new one,
// and makes the rename durable (the folder flushed; on Windows MoveFileEx with write-through). A file
// still open elsewhere is replaced all the same where the system allows it (always on POSIX; on Windows
// when every handle of it was opened for sharing deletes, as the engine's own are): whoever has it open
// keeps reading the old contents. Where another program holds `to` without allowing that, the rename
// fails with the reason, and both files stay as they were.
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
