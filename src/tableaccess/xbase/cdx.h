#pragma once
// FoxPro compound index files (.cdx).
//
// A .cdx holds several index tags. Offset 0 carries the tag directory: itself a compact index whose
// keys are the tag names (10 bytes) and whose "record numbers" are the file offsets of the tags'
// headers. Each tag has a 512-byte header (root node, key length, options, sort order, expression
// lengths) followed by 512 bytes of expression text (key expression, then filter), and a B-tree of
// 512-byte nodes:
//  - interior nodes: full keys, each followed by a big-endian record number and child offset; the key
//    of an entry is the last key of its child;
//  - leaf nodes: compact entries (record number, count of bytes shared with the previous key, count of
//    trailing pad bytes dropped) bit-packed after a 24-byte header, the remaining key bytes packed
//    backwards from the node's end.
// Keys are kept in ascending order (then by record number); a descending tag is read backwards.
// Keys order by their bytes (FoxPro's default "MACHINE" collation), which is how other xBase programs
// walk, search and change them: every tag this engine builds or rebuilds is in that order. A tag another
// program wrote in another order is read, searched and changed in the order it has:
//  - character keys that sort accented letters of Windows ANSI text with their base letter (ÎLE-PERROT
//    before MONTRÉAL), keys equal that way by their bytes, as some libraries write them without a mark
//    in the file: recognised from the keys on the tag's first use;
//  - a tag whose header names a Visual FoxPro collation sequence other than MACHINE (GENERAL, ...)
//    holds sort weights, not text: it is read, but cannot be searched or changed (maintainable() says
//    why) until it is rebuilt.
//
// The whole file is held in memory while open: seeks run on decoded nodes without touching the disk.
// Nodes are decoded when a tag is first used, not at open. A check validates a tag's tree the same way
// but reads each leaf once without keeping it.
// Changes are written node by node (new nodes first, then the nodes that link to them, then headers);
// rebuilds write a complete new file beside the old one and rename it into place.
//
// The implementation, one concept per file: cdx.cpp (opening, tags, tree validation), cdx_node.cpp (the
// node codec), cdx_search.cpp (seek and walk), cdx_maintain.cpp (key maintenance), cdx_build.cpp (bulk
// build of whole files), cdx_check.cpp (check).
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "tableaccess/xbase/codepage.h"
#include "tableaccess/xbase/fields.h"
#include "tableaccess/xbase/fileio.h"
#include "tableaccess/xbase/keyexpr.h"

namespace xb {

struct TagSpec {
    std::string name, expression, filter;
    bool unique = false, descending = false;
};

class CdxFile {
  public:
    ~CdxFile();
    CdxFile(const CdxFile&) = delete;
    CdxFile& operator=(const CdxFile&) = delete;

    // Open an existing compound index (production or not). nullptr and error (naming the file and the
    // problem) when its headers, tag directory or a tag's root node are damaged, including a tag
    // definition a rebuild would refuse (a name that is not 1 to 10 letters, digits or _, a name given
    // twice, an expression or filter without its end in the 512-byte pool): opening, maintaining and
    // rebuilding hold tags to the same limits. The nodes below the roots are validated on each tag's
    // first use (seek, walk, check, any change): damage there (a node pointer outside the file, off a
    // 512-byte page, at a header or at another tag's node, a loop in the tree, a bad node, sibling
    // pointers that do not name a node's neighbours) fails that use with such an error, and nothing is
    // written.
    // codepage: that of the table's text (UPPER() in key expressions follows it).
    static std::unique_ptr<CdxFile> open(const std::string& path, const std::vector<FieldDesc>& fields,
                                         std::string& error, Codepage codepage = Codepage::Cp1252);
    // Build a new index file with these tags over all records; written beside the target, flushed and
    // renamed into place (crash-safe).
    static std::unique_ptr<CdxFile> create(const std::string& path, const std::vector<FieldDesc>& fields,
                                           const std::vector<TagSpec>& tags, RecordReader& records,
                                           std::string& error, Codepage codepage = Codepage::Cp1252);

    const std::string& path() const { return path_; }
    std::vector<TagSpec> tags() const;
    int tagCount() const { return int(tags_.size()); }
    int findTag(std::string_view name) const;  // case-insensitive; -1 when absent

    // Adds the tags that are missing (by name) and builds them; existing tags are kept as they are.
    // A tag given again with another expression or other flags is rebuilt to the new definition.
    bool ensureTags(const std::vector<TagSpec>& tags, RecordReader& records, std::string& error);
    // Rebuilds all tags from the records (after pack, or dbftool index).
    bool rebuildAll(RecordReader& records, std::string& error);

    // False (with the reason) when some tag has an expression or filter the engine cannot evaluate:
    // the table then refuses writes with that reason rather than leaving a stale index.
    bool maintainable(std::string& why) const;

    // Maintenance, called by the table for each change (record buffers include the deletion flag).
    // Changes are written to the file at once; flush() makes them durable.
    bool insert(uint32_t recno, const uint8_t* record, std::string& error);
    bool update(uint32_t recno, const uint8_t* oldRecord, const uint8_t* newRecord, std::string& error);
    // Whether update() can make this change, checked without writing anything: the index can be written
    // and every tag whose key of the record changes holds the record's old key. A tag that does not (the
    // record was changed behind the index's back) is out of date: the change is refused, naming the tag,
    // rather than leaving the record in the tag twice. The table calls it before it writes the record;
    // update() calls it first too.
    bool canUpdate(uint32_t recno, const uint8_t* oldRecord, const uint8_t* newRecord, std::string& error);

    // Seek: the key (table codepage bytes) is padded with blanks (character tags) to the tag's key
    // length and must equal a stored key exactly; empty or over-long keys never match. Numeric, date
    // and logical tags take the value as text ("604830", "20240131", "T"). Returns the record number
    // of the first match in tag order, or 0.
    uint32_t seek(int tag, std::string_view key, std::string& error);
    // Seek with a key already in the tag's stored form (exactly keyLength bytes).
    uint32_t seekStored(int tag, std::string_view storedKey, std::string& error);

    // Every (key, recno) in tag order (for checks, tests and the table editor). Keys in stored form.
    bool walk(int tag, std::vector<std::pair<std::string, uint32_t>>& out, std::string& error);

    // Verifies one tag against the records: order, key count == record count, each key == expression
    // over its record. Appends one line per fault; false when there is any.
    bool check(int tag, RecordReader& records, std::vector<std::string>& faults);
    // The same for several tags at once, over one pass of the records in record order (each record is
    // read once, whatever the number of tags); faults[i] takes the lines of tags[i]. Each piece of
    // records that pass reads also goes to alsoEach, so that the caller's own checks of the records
    // share it.
    bool checkTags(const std::vector<int>& tags, RecordReader& records,
                   std::vector<std::vector<std::string>>& faults, const RecordPiece& alsoEach = {});

    // Validates every tag's whole tree now (what the first use of each tag would do). The table calls
    // it before it writes a record, so that damage found then leaves the table unchanged too.
    bool validate(std::string& error);

    bool flush(std::string& error);  // makes written changes durable (fsync)
    // Reads the file again when another writer changed or replaced it since it was read (every
    // change calls this first, so two objects on one file do not overwrite each other's nodes).
    // False when the file can no longer be read; the object then must not be used for changes.
    bool refresh(std::string& error);

    // Records of the table, read when a unique tag loses the record that carried a key and another
    // record with that key must take its place. Without it such a key leaves the tag until the next
    // rebuild. The reader must outlive this object (or be reset to nullptr).
    void setRecordSource(RecordReader* records) { records_ = records; }
    int keyLength(int tag) const;
    // The kind of the tag's keys; Character when its expression cannot be evaluated.
    KeyType keyType(int tag) const;

    struct Node;
    struct Tag;

  private:
    CdxFile();
    // A file object for the index at path over a table of these fields, nothing read or written yet.
    static std::unique_ptr<CdxFile> unopened(const std::string& path, const std::vector<FieldDesc>& fields,
                                             Codepage codepage);
    bool load(std::string& error);
    bool writable(std::string& error);
    bool loadFromImage(std::string& error);
    struct TreeWalk;
    bool validateTree(Tag& tag, std::string& error, TreeWalk* walk = nullptr);
    bool prepare(Tag& tag, std::string& error);  // validates the tag's tree on first use
    // Validates the tag's tree and learns the order of its keys (see prepare); with a check's walk, the
    // leaves go to it and are not kept.
    bool validateOrder(Tag& tag, std::string& error, TreeWalk* check);
    Node* node(uint32_t offset, const Tag& tag, std::string& error);
    uint32_t seekIn(Tag& tag, const char* key, std::string& error);
    bool walkStored(Tag& tag, std::vector<Node*>& leaves, std::string& error);
    bool decodeNode(uint32_t offset, const Tag& tag, Node& out, std::string& error) const;
    bool insertKey(Tag& tag, const char* key, uint32_t recno, std::string& error);
    bool removeKey(Tag& tag, const char* key, uint32_t recno, bool& found, std::string& error);
    bool holdsEntry(Tag& tag, const char* key, uint32_t recno, bool& held, std::string& error);
    struct CheckedTag;
    class KeyPrints;  // fingerprints of keys with their record numbers
    // The parts of a tag's check (cdx_check.cpp): the interior entries against their children, each
    // leaf's entries in key order against the records, then what the records hold that the tag lacks.
    void checkInterior(CheckedTag& c, const std::function<void(const std::string&)>& fault);
    // withRecords: the records have been read, and each entry is compared with its record; otherwise
    // the entries' fingerprints are added up. order: the validating walk's, which takes the counts of
    // entries out of either order.
    void checkLeaf(CheckedTag& c, const Node& leaf, uint32_t count, bool collated, const KeyPrints& prints,
                   bool withRecords, TreeWalk* order = nullptr);
    void restartLeafCheck(CheckedTag& c);
    void checkCounts(CheckedTag& c, uint32_t count, const std::function<void(const std::string&)>& fault);
    std::string showKey(const Tag& tag, const char* key) const;  // a key as a fault shows it
    // Each leaf of a validated tree in key order: the kept node, or one decoded into scratch.
    bool forEachLeaf(Tag& tag, Node& scratch, const std::function<void(const Node&)>& visit,
                     std::string& error);
    bool fixSplits(Tag& tag, std::vector<std::pair<Node*, int>>& path, std::string& error);
    Node* newNode(Tag& tag, bool leaf);
    bool writeDirty(std::string& error);
    bool rewrite(const std::vector<TagSpec>& defs, const std::vector<int>& keepFrom, RecordReader* records,
                 std::string& error);
    std::string fail(const std::string& problem) const;

    std::string path_;
    std::vector<FieldDesc> fields_;
    Codepage codepage_ = Codepage::Cp1252;
    io::File file_;
    std::vector<uint8_t> image_;
    std::vector<std::unique_ptr<Tag>> tags_;
    std::unordered_map<uint32_t, std::unique_ptr<Node>> nodes_;
    std::vector<uint32_t> newNodes_;    // allocated since the last write, written first
    std::vector<uint32_t> dirtyNodes_;  // existing nodes changed since the last write
    bool headersDirty_ = false;
    bool readOnly_ = false;
    RecordReader* records_ = nullptr;
    uint32_t recordSize_ = 1;  // bytes a record buffer must have for the fields
    bool unsynced_ = false;
};

}  // namespace xb
