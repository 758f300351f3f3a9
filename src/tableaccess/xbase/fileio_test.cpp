// The engine's platform file layer, on Linux and (cross-built, under Wine) on Windows: positioned reads
// and writes, read-only files, names in any letter case, UTF-8 names, and the durable replace of a file
// that is still open elsewhere.
#include "tableaccess/xbase/fileio.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#endif

#include "tableaccess/xbase/testhelpers_test.h"

namespace xb::io {
namespace {

using xbtest::readBytes;
using xbtest::TempDir;
using xbtest::writeBytes;

std::string readAll(const File& f) {
    std::string s(static_cast<size_t>(f.size()), '\0');
    EXPECT_TRUE(f.readAt(0, s.data(), s.size()));
    return s;
}

TEST(FileLayer, PositionedReadsAndWritesSizeAndTruncate) {
    TempDir dir;
    const std::string path = dir.file("t.bin");
    File f;
    std::string error;
    ASSERT_TRUE(f.create(path, false, error)) << error;
    EXPECT_FALSE(File().create(path, false, error)) << "a second create without replace must fail";
    ASSERT_TRUE(f.writeAt(0, "abcdef", 6));
    ASSERT_TRUE(f.writeAt(10, "XY", 2));  // past the end: the gap reads as zero bytes
    EXPECT_EQ(f.size(), 12);
    char buffer[16] = {};
    EXPECT_TRUE(f.readAt(2, buffer, 4));
    EXPECT_EQ(std::string(buffer, 4), "cdef");
    EXPECT_EQ(f.readSomeAt(8, buffer, 16), 4);  // short at the end
    EXPECT_EQ(std::string(buffer, 4), std::string("\0\0XY", 4));
    EXPECT_FALSE(f.readAt(8, buffer, 16));
    ASSERT_TRUE(f.truncate(3));
    EXPECT_EQ(f.size(), 3);
    ASSERT_TRUE(f.sync());
    f.close();
    EXPECT_EQ(readBytes(path), "abc");
}

// What opening says about names, folders and read-only files.
TEST(FileLayer, OpeningFindsNamesInAnyCaseAndRefusesWhatItMustNotWrite) {
    const struct {
        const char* what;
        const char* onDisk;  // created before the open; nullptr: nothing
        const char* asked;
        bool write;
        bool readOnly;  // the file is marked read-only
        bool opens;
        const char* error;  // part of the error when it does not open
    } cases[] = {
        {"the exact name", "Fox_Small.DBF", "Fox_Small.DBF", true, false, true, ""},
        {"another letter case", "Fox_Small.DBF", "fox_small.dbf", true, false, true, ""},
        {"upper case asked", "bids.dbf", "BIDS.DBF", false, false, true, ""},
        {"UTF-8 name", "Z\xC3\xBCrich.dbf", "Z\xC3\xBCrich.dbf", true, false, true, ""},
        {"a read-only file read", "ro.dbf", "ro.dbf", false, true, true, ""},
        {"a read-only file written", "ro.dbf", "ro.dbf", true, true, false, "read-only"},
        {"a folder", nullptr, ".", false, false, false, "folder"},
        {"missing", nullptr, "none.dbf", false, false, false, ""},
    };
    for (const auto& c : cases) {
        TempDir dir;
        if (c.onDisk) {
            // Made through the layer itself, so that a UTF-8 name is one on Windows too.
            File made;
            std::string error;
            ASSERT_TRUE(made.create(dir.file(c.onDisk), false, error)) << c.what << ": " << error;
            ASSERT_TRUE(made.writeAt(0, "content", 7));
            made.close();
            if (c.readOnly)
                xbtest::fs::permissions(dir.file(c.onDisk), xbtest::fs::perms::owner_read,
                                        xbtest::fs::perm_options::replace);
        }
        const std::string path = resolveCase(dir.file(c.asked));
        File f;
        std::string error;
        EXPECT_EQ(f.open(path, c.write, error), c.opens) << c.what << ": " << error;
        if (c.opens) {
            EXPECT_EQ(readAll(f), "content") << c.what;
            EXPECT_TRUE(exists(path)) << c.what;
        } else {
            EXPECT_NE(error.find(c.error), std::string::npos) << c.what << ": " << error;
        }
        f.close();
        if (c.readOnly)
            xbtest::fs::permissions(dir.file(c.onDisk), xbtest::fs::perms::owner_all,
                                    xbtest::fs::perm_options::replace);
    }
}

// A replace puts the new file in place in one step, also while the old one is still open (by another
// table of the engine, reading and writing): the holders keep the old contents, a new open sees the new.
// Windows does that only where it renames with POSIX semantics (Windows 10 on NTFS); elsewhere the
// replace of an open file is refused with the reason and leaves both files as they were.
TEST(FileLayer, ReplaceIsOneStepAlsoWhileTheTargetIsOpenElsewhere) {
    const struct {
        const char* what;
        bool targetExists;
        int openHandles;  // engine handles on the target during the replace
    } cases[] = {
        {"no target yet", false, 0},
        {"a target nobody has open", true, 0},
        {"a target open for reading and writing elsewhere", true, 1},
        {"a target open twice", true, 2},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string target = dir.file("Bids.dbf"), work = dir.file("upgBids.dbf");
        if (c.targetExists) writeBytes(target, "old table");
        writeBytes(work, "new table, longer");
        std::vector<File> holders(static_cast<size_t>(c.openHandles));
        FileIdentity before{};
        for (File& h : holders) {
            std::string error;
            ASSERT_TRUE(h.open(target, true, error)) << c.what << ": " << error;
            ASSERT_TRUE(h.identity(before));
        }
        std::string error;
        const bool replaced = replaceFile(work, target, error);
#ifdef _WIN32
        if (!replaced && c.openHandles > 0) {
            // Windows before POSIX renames (and Wine) replaces no open file: it says so, nothing moves.
            EXPECT_NE(error.find("does not replace a file that is open"), std::string::npos) << error;
            EXPECT_EQ(readBytes(target), "old table") << c.what;
            EXPECT_EQ(readBytes(work), "new table, longer") << c.what;
            for (File& h : holders) EXPECT_EQ(readAll(h), "old table") << c.what;
            continue;
        }
#endif
        ASSERT_TRUE(replaced) << c.what << ": " << error;
        EXPECT_FALSE(exists(work)) << c.what;
        EXPECT_EQ(readBytes(target), "new table, longer") << c.what;
        FileIdentity now{};
        ASSERT_TRUE(identityOf(target, now)) << c.what;
        for (File& h : holders) {
            EXPECT_EQ(readAll(h), "old table") << c.what << ": the holder keeps what it opened";
            EXPECT_FALSE(now == before) << c.what << ": the name is another file now";
        }
        File fresh;
        ASSERT_TRUE(fresh.open(target, false, error)) << c.what;
        FileIdentity freshId{};
        ASSERT_TRUE(fresh.identity(freshId));
        EXPECT_TRUE(freshId == now) << c.what;
    }
}

#ifdef _WIN32
// Another program that holds the target without letting others delete it (most Windows programs open
// files so) keeps it from being replaced: the replace says why and leaves both files as they were.
TEST(FileLayer, ATargetAnotherProgramHoldsIsNotReplacedAndNothingIsLost) {
    TempDir dir;
    const std::string target = dir.file("Bids.dbf"), work = dir.file("upgBids.dbf");
    writeBytes(target, "old table");
    writeBytes(work, "new table");
    std::wstring name(target.begin(), target.end());
    HANDLE foreign = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(foreign, INVALID_HANDLE_VALUE);
    std::string error;
    const bool replaced = replaceFile(work, target, error);
    CloseHandle(foreign);
    if (replaced) {
        // Windows versions that rename with POSIX semantics allow it: then it must be whole.
        EXPECT_EQ(readBytes(target), "new table");
        EXPECT_FALSE(exists(work));
    } else {
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(readBytes(target), "old table");
        EXPECT_EQ(readBytes(work), "new table");
    }
}
#endif

TEST(FileLayer, NamesSplitIntoFolderFileAndExtension) {
    const struct {
        const char* path;
        const char* folder;
        const char* name;
        const char* withDbf;
        bool hasExt;
    } cases[] = {
        {"data/Bids.dbf", "data", "Bids.dbf", "data/Bids.dbf", true},
        {"data/Bids", "data", "Bids", "data/Bids.dbf", false},
        {"Bids", ".", "Bids", "Bids.dbf", false},
        {"/Bids.DBF", "/", "Bids.DBF", "/Bids.dbf", true},
        {"my.data/Bids", "my.data", "Bids", "my.data/Bids.dbf", false},
        {"data/.hidden", "data", ".hidden", "data/.hidden.dbf", false},
#ifdef _WIN32
        {"C:\\Tarvik\\data\\Bids", "C:\\Tarvik\\data", "Bids", "C:\\Tarvik\\data\\Bids.dbf", false},
        {"C:\\Tarvik\\my.data\\Bids", "C:\\Tarvik\\my.data", "Bids", "C:\\Tarvik\\my.data\\Bids.dbf", false},
#endif
    };
    for (const auto& c : cases) {
        EXPECT_EQ(folderOf(c.path), c.folder) << c.path;
        EXPECT_EQ(fileNameOf(c.path), c.name) << c.path;
        EXPECT_EQ(withExtension(c.path, ".dbf"), c.withDbf) << c.path;
        EXPECT_EQ(hasExtension(c.path), c.hasExt) << c.path;
    }
}

}  // namespace
}  // namespace xb::io
