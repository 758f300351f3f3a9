// Tests of the memo files: headers that point outside the file, block numbers that run out.
#include "tableaccess/xbase/fpt.h"

#include <gtest/gtest.h>

#include "tableaccess/xbase/testhelpers_test.h"

using namespace xbtest;

namespace {

// The first bytes of a file (without reading a large one whole).
std::string headOf(const std::string& path, size_t n) {
    std::ifstream in(path, std::ios::binary);
    std::string s(n, '\0');
    in.read(s.data(), std::streamsize(n));
    s.resize(size_t(in.gcount()));
    return s;
}

void putHeaderNextFree(std::string& bytes, xb::MemoFile::Kind kind, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        bytes[size_t(i)] = char(kind == xb::MemoFile::Kind::Fpt ? v >> (24 - 8 * i) : v >> (8 * i));
}

// A header whose next free block lies inside the header or past the end of the file is damage: the
// memos still read, every write is refused with the damage (naming the file), nothing is written.
// Before, a memo went wherever the header said: over the header, or gigabytes past the end.
TEST(MemoHeader, ANextFreeBlockOutsideTheFileStopsWritesAndLetsMemosBeRead) {
    struct Case {
        xb::MemoFile::Kind kind;
        uint32_t nextFree;  // 0: as written
        size_t cutTo;       // 0: the file as written
        const char* say;    // part of the damage; nullptr: sound
    };
    using K = xb::MemoFile::Kind;
    // After the one memo: FPT (64-byte blocks) next free 10, 640 bytes; DBT (512) next free 2, 1024.
    const std::vector<Case> cases = {
        {K::Fpt, 0xFFFFFFF0u, 0, "next free block as 4294967280, past the end of the file (10 blocks"},
        {K::Fpt, 13, 0, "next free block as 13, past the end"},
        {K::Fpt, 3, 0, "next free block as 3, inside the 512-byte header"},
        {K::Fpt, 0, 620, nullptr},  // the last block not padded: sound
        {K::Dbt, 0x80000000u, 0, "next free block as 2147483648, past the end"},
        {K::Dbt, 0, 0, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.nextFree) + (c.kind == K::Fpt ? " fpt" : " dbt"));
        TempDir dir;
        const std::string path = dir.file("m.memo");
        uint32_t block = 0;
        std::string err;
        {
            auto m = xb::MemoFile::create(path, c.kind, 64, false, err);
            ASSERT_TRUE(m) << err;
            ASSERT_TRUE(m->write(0, std::string(100, 'a'), block, err)) << err;
        }
        std::string bytes = readBytes(path);
        if (c.nextFree) putHeaderNextFree(bytes, c.kind, c.nextFree);
        if (c.cutTo) bytes.resize(c.cutTo);
        writeBytes(path, bytes);
        auto m = xb::MemoFile::open(path, c.kind, false, err);
        ASSERT_TRUE(m) << err;
        std::string text;
        ASSERT_TRUE(m->read(block, text, err)) << err;
        EXPECT_EQ(text, std::string(100, 'a'));
        uint32_t added = 0;
        if (!c.say) {
            EXPECT_EQ(m->damage(), "");
            EXPECT_TRUE(m->write(0, "more", added, err)) << err;
            EXPECT_TRUE(m->read(added, text, err) && text == "more") << err;
            continue;
        }
        EXPECT_NE(m->damage().find(path), std::string::npos) << m->damage();
        EXPECT_NE(m->damage().find(c.say), std::string::npos) << m->damage();
        EXPECT_FALSE(m->write(0, "more", added, err));
        EXPECT_EQ(err, m->damage());
        EXPECT_FALSE(m->write(block, "replaces", added, err, UINT32_MAX));
        m.reset();
        EXPECT_EQ(readBytes(path), bytes);
    }
}

// Block numbers are 32 bits in the file. A memo file whose blocks run out (here one byte each, the file
// a sparse 4 GB) refuses the memo that does not fit, rather than counting past 2^32 onto its header, and
// leaves the file as it was.
TEST(MemoBlocks, RunningOutOfBlockNumbersRefusesTheMemoAndKeepsTheFile) {
    TempDir dir;
    const std::string path = dir.file("big.fpt");
    const uint64_t size = 0xFFFFFFFFull - 100;  // blocks up to 2^32 - 101
    {
        std::string err;
        ASSERT_TRUE(xb::MemoFile::create(path, xb::MemoFile::Kind::Fpt, 1, false, err)) << err;
        std::string header = readBytes(path);
        ASSERT_EQ(header.size(), 512u);
        putHeaderNextFree(header, xb::MemoFile::Kind::Fpt, uint32_t(size));
        writeBytes(path, header);
        std::filesystem::resize_file(path, size);  // sparse where the file system allows
    }
    std::string err;
    auto m = xb::MemoFile::open(path, xb::MemoFile::Kind::Fpt, false, err);
    ASSERT_TRUE(m) << err;
    EXPECT_EQ(m->damage(), "");
    uint32_t block = 0;
    ASSERT_TRUE(m->write(0, std::string(50, 'x'), block, err)) << err;  // 58 blocks: fits
    EXPECT_EQ(block, uint32_t(size));
    const std::string header = headOf(path, 512);
    EXPECT_FALSE(m->write(0, std::string(60, 'y'), block, err));  // 68 blocks: past 2^32 - 1
    EXPECT_NE(err.find("the memo file is full"), std::string::npos) << err;
    EXPECT_EQ(m->fileSize(), size + 58);
    m.reset();
    EXPECT_EQ(std::filesystem::file_size(path), size + 58);
    EXPECT_EQ(headOf(path, 512), header);
}

}  // namespace

// A dBase memo reads up to its end mark; a last memo written without one reads to the end of the file.
// A memo appended after it must not become part of it: the file's end is marked first, so that every
// memo reads afterwards what it read before.
TEST(MemoDbt, ALastMemoWithoutItsEndMarkReadsTheSameAfterAnAppend) {
    struct Case {
        const char* what;
        std::string last;  // the bytes of the last memo, from block 1 to the end of the file
        std::string reads;
        uint32_t newBlock;  // where the appended memo goes
    };
    const std::vector<Case> cases = {
        {"ending inside its block", std::string(100, 'u'), std::string(100, 'u'), 2},
        {"ending at the end of its block", std::string(512, 'v'), std::string(512, 'v'), 3},
        {"ending with its mark and the zeros of its block", "ok\x1A\x1A" + std::string(508, '\0'), "ok", 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        const std::string path = dir.file("t.dbt");
        std::string bytes(512, '\0');
        putHeaderNextFree(bytes, xb::MemoFile::Kind::Dbt, uint32_t((512 + c.last.size() + 511) / 512));
        writeBytes(path, bytes + c.last);
        std::string err, text;
        auto m = xb::MemoFile::open(path, xb::MemoFile::Kind::Dbt, false, err);
        ASSERT_TRUE(m) << err;
        ASSERT_TRUE(m->read(1, text, err)) << err;
        EXPECT_EQ(text, c.reads);
        uint32_t block = 0;
        ASSERT_TRUE(m->write(0, "appended", block, err)) << err;
        EXPECT_EQ(block, c.newBlock);
        ASSERT_TRUE(m->read(1, text, err)) << err;
        EXPECT_EQ(text, c.reads);
        ASSERT_TRUE(m->read(block, text, err)) << err;
        EXPECT_EQ(text, "appended");
    }
}
