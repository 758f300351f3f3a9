#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets (fuzz/corpus/<target>/) from small tables that dbftool
makes, and those inputs of fuzz/regressions/<target>/ that reproduce damage once mishandled (each made
from a seed by changing the bytes the damage is about; the others there were found by campaigns).

    fuzz/make-corpus.py build/release/bin/dbftool

The files are committed; run this again only to change them. An input is a sequence of parts, each
"@@" and a letter naming its file, then a line end (see harness.h).
"""
import os
import shutil
import struct
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))


def container(parts):
    out = b""
    for letter, data in parts:
        assert b"@@" not in data, "a part holds the part marker"
        out += b"@@" + letter.encode() + b"\n" + data
    return out


class Maker:
    def __init__(self, dbftool):
        self.dbftool = dbftool
        self.dir = tempfile.mkdtemp(prefix="xbase-corpus-")

    def run(self, *args):
        r = subprocess.run([self.dbftool, *args], capture_output=True)
        if r.returncode != 0:
            raise SystemExit("dbftool %s failed: %s" % (" ".join(args), r.stderr.decode()))

    def table(self, name, schema, fmt, csv, tags=()):
        """A table made by dbftool: returns its files as parts (letter, bytes)."""
        base = os.path.join(self.dir, name)
        self.run("create", base + ".dbf", schema, "--format", fmt)
        if csv:
            with open(base + ".csv", "w", encoding="utf-8", newline="") as f:
                f.write(csv)
            self.run("load", base + ".dbf", base + ".csv")
        for tag in tags:
            self.run("index", base + ".dbf", *tag)
        parts = []
        for letter, ext in (("d", ".dbf"), ("f", ".fpt"), ("b", ".dbt"), ("c", ".cdx")):
            if os.path.exists(base + ext):
                with open(base + ext, "rb") as f:
                    parts.append((letter, f.read()))
        return parts

    def close(self):
        shutil.rmtree(self.dir)


def rows(n, memo_every=3):
    towns = ["Québec", "Ottawa", "Île-Perrot", "Montréal", "Toronto", "Saint-Jean", "Zürich", "Ålesund"]
    out = "CODE,TOWN,POP,AREA,ACTIVE,OPENED,NOTE,_deleted\r\n"
    for i in range(n):
        code = "%s%d%s%d%s%d" % ("ABCEGHJK"[i % 8], i % 10, "ABCEGHJK"[(i * 3) % 8], (i * 7) % 10,
                                 "ABCEGHJK"[(i * 5) % 8], (i * 3) % 10)
        note = ("note %d " % i) * (1 + (i * 13) % 40) if i % memo_every == 0 else ""
        out += "%s,%s,%d,%.3f,%s,%s,%s,%s\r\n" % (
            code, towns[i % len(towns)], (i * 7919) % 100000, (i * 31.5) % 1000, "TF"[i % 2],
            "" if i % 5 == 4 else "20%02d%02d%02d" % (i % 30, 1 + i % 12, 1 + i % 28), note.strip(),
            "*" if i % 7 == 6 else "")
    return out


FOX = "CODE:C:6,TOWN:C:20,POP:N:9,AREA:N:10:3,ACTIVE:L,OPENED:D,NOTE:M"
FOX_TAGS = (("CODE", "CODE"), ("TOWN", "UPPER(TOWN)"), ("POP", "POP", "--descending"),
            ("OPENED", "DTOS(OPENED)+CODE", "--unique"))


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def be32(v):
    return struct.pack(">I", v)


def le32(v):
    return struct.pack("<I", v)


def part(parts, letter):
    return bytearray(next(d for l, d in parts if l == letter))


def replaced(parts, letter, data):
    return [(l, bytes(data) if l == letter else d) for l, d in parts]


def record_at(dbf, recno):
    header, length = struct.unpack_from("<HH", dbf, 8)
    return header + (recno - 1) * length


def set_note(dbf, recno, block):
    """The NOTE pointer of a FOX record (its last 10 bytes)."""
    length = struct.unpack_from("<H", dbf, 10)[0]
    at = record_at(dbf, recno) + length - 10
    dbf[at:at + 10] = ("%10d" % block).encode()


def note_block(dbf, recno):
    length = struct.unpack_from("<H", dbf, 10)[0]
    at = record_at(dbf, recno) + length - 10
    text = bytes(dbf[at:at + 10]).strip()
    return int(text) if text else 0


def tag_header(cdx, name):
    """The header offset of a tag, found through the directory's one leaf (names stored back from its end)."""
    root = struct.unpack_from("<I", cdx, 0)[0]
    count = struct.unpack_from("<H", cdx, root + 2)[0]
    nb = cdx[root + 23]
    rb, db = cdx[root + 20], cdx[root + 21]
    keylen = struct.unpack_from("<H", cdx, 12)[0]
    names, prev, pos = [], b"", root + 512
    for i in range(count):
        v = int.from_bytes(cdx[root + 24 + i * nb: root + 24 + (i + 1) * nb], "little")
        rec = v & ((1 << rb) - 1)
        dup = (v >> rb) & ((1 << db) - 1)
        trail = (v >> (rb + db)) & ((1 << cdx[root + 22]) - 1)
        n = keylen - dup - trail
        pos -= n
        key = prev[:dup] + bytes(cdx[pos:pos + n])
        prev = key + b" " * trail
        names.append((key.decode(), rec))
    return dict(names)[name]


def first_leaf(cdx, header):
    node = struct.unpack_from("<I", cdx, header)[0]
    keylen = struct.unpack_from("<H", cdx, header + 12)[0]
    while not (struct.unpack_from("<H", cdx, node)[0] & 2):
        node = struct.unpack_from(">I", cdx, node + 12 + keylen + 4)[0]
    return node


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    m = Maker(os.path.abspath(sys.argv[1]))
    corpus = os.path.join(HERE, "corpus")
    regressions = os.path.join(HERE, "regressions")
    # The corpus is made whole; of the regressions only those made here are written again (the others are
    # inputs a campaign found).
    if os.path.isdir(corpus):
        shutil.rmtree(corpus)

    fox = m.table("fox", FOX, "fox2", rows(14), FOX_TAGS)
    wide = m.table("wide", "CODE:C:6,TOWN:C:20,POP:N:9,AREA:N:10:3,ACTIVE:L,OPENED:D,NOTE:M", "fox2",
                   rows(160, 9), (("CODE", "CODE"), ("TOWN", "UPPER(TOWN)")))
    db3 = m.table("db3", "NAME:C:10,N:N:5,DAY:D,NOTE:M", "db3",
                  "NAME,N,DAY,NOTE\r\nalpha,1,20240101,a memo\r\nbeta,22,,\r\ngamma,-3,19991231,"
                  + "x" * 700 + "\r\n", (("NAME", "UPPER(NAME)"), ("N", "STR(N,5)")))
    vfp = m.table("vfp", "NAME:C:10,N:I,PRICE:Y,X:B,WHEN:T,FLAG:L,NOTE:M", "vfp",
                  "NAME,N,PRICE,X,WHEN,FLAG,NOTE\r\nfirst,7,12.5,3.25,20240229,T,vfp memo\r\n"
                  "second,-9,0.0001,-1e10,,F,\r\n", (("NAME", "NAME"), ("N", "N"), ("PRICE", "PRICE")))
    plain = m.table("plain", "A:C:3,B:N:4:1", "fox2", "A,B\r\nab,1.5\r\ncd,-2\r\n")

    # ---- reading
    seeks = b"CODE A0A0A0\nTOWN OTTAWA\nPOP 7919\nOPENED 20010202B7E5G6\n"
    write(os.path.join(corpus, "read"), "fox", container(fox + [("a", seeks)]))
    write(os.path.join(corpus, "read"), "wide", container(wide + [("a", b"CODE A0A0A0\nTOWN ZURICH\n")]))
    write(os.path.join(corpus, "read"), "db3", container(db3))
    write(os.path.join(corpus, "read"), "vfp", container(vfp + [("a", b"NAME first\nN 7\nPRICE 12.5\n")]))
    write(os.path.join(corpus, "read"), "plain", container(plain))

    # ---- writing
    csv = rows(6).replace("\r\n", "\r\n", 1)
    w = os.path.join(corpus, "write")
    write(w, "pack-fox", container(fox + [("a", b"pack\n")]))
    write(w, "pack-wide", container(wide + [("a", b"pack\n")]))
    write(w, "pack-db3", container(db3 + [("a", b"pack\n")]))
    write(w, "index-new", container(fox + [("a", b"index\nBOTH\nUPPER(TOWN)+STR(POP,9)\n--descending\n")]))
    write(w, "index-replace", container(vfp + [("a", b"index\nNAME\nLEFT(NAME,4)\n--unique\n")]))
    write(w, "load-fox", container(fox + [("a", b"load\n"), ("s", csv.encode())]))
    write(w, "load-vfp", container(vfp + [("a", b"load\n"),
                                          ("s", b"NAME,N,PRICE,WHEN,NOTE\r\nthird,8,1.25,20000101,more\r\n")]))
    write(w, "copy-vfp", container(vfp + [("a", b"copy\n")]))
    write(w, "copy-db3", container(db3 + [("a", b"copy\n")]))
    write(w, "edit-fox", container(fox + [("a", b"edit\ngo 2\nset TOWN Paris\nmemo NOTE 300 x\ngo 3\ndelete\n"
                                                b"append\nset CODE Z9Z9Z9\nmemo NOTE 20 y\ntag CODE\n"
                                                b"seek A0A0A0\nset POP 12\nskip 2\nrecall\nflush\n")]))
    write(w, "edit-vfp", container(vfp + [("a", b"edit\ngo 1\nset N 99\nset WHEN 20250101\nmemo NOTE 90 v\n"
                                                b"append\nset NAME zed\ngo 2\ndelete\n")]))

    # ---- key expressions: field kinds with length and decimals, a line end, the expression, a NUL, records
    layout = b"C\x06\x00C\x14\x00N\x09\x00N\x0a\x03L\x01\x00D\x08\x00I\x04\x00Y\x08\x04\n"
    record = b" A1B2C3Qu\xe9bec Ville        604830  78.750T20240229\x07\x00\x00\x00\x10\x27\x00\x00\x00\x00\x00\x00"
    for i, expr in enumerate([b"F0", b"UPPER(F1)", b"DTOS(F5)+F0", b"STR(F2,12,2)", b"F2+F3", b"F6",
                              b"SUBSTR(F1,3,4)+LEFT(F0,2)+RIGHT(F1,3)", b"F4 .AND. !DELETED()",
                              b"'lit'+F0", b"F7", b"(F0+F1)", b"NOT F4 .OR. DELETED()"]):
        write(os.path.join(corpus, "keyexpr"), "expr-%02d" % i, layout + expr + b"\x00" + record)

    # ---- CSV
    for i, text in enumerate([
            "NAME,AMOUNT,FLAG,DAY\r\nplain,1.5,T,20240101\r\n\"quoted, with comma\",-2,F,\r\n",
            "\ufeffA,B\n\"multi\nline\",\"say \"\"hi\"\"\"\n,\n",
            "X\r\n\r\ny\r\n12345678901234567890,1e5,.5,+3\r\n",
            "C,N,D\r\nZürich,0.001,19991231\r\nÇa,99999999.99,20000229\r\n?,T,Y\r\n"]):
        write(os.path.join(corpus, "csv"), "csv-%d" % i, text.encode("utf-8"))

    # ---- damage: seeds of the damage the engine must handle (below, those that broke an oracle before it
    # did go to the regressions)
    r = os.path.join(regressions, "read")
    rw = os.path.join(regressions, "write")
    rk = os.path.join(regressions, "keyexpr")
    cr = os.path.join(corpus, "read")
    cw = os.path.join(corpus, "write")
    # a memo file whose next free block is near 2^32: appends wrapped the block counter onto the header
    fpt = part(fox, "f")
    fpt[0:4] = be32(0xFFFFFFF0)
    write(cw, "damaged-load-memo-next-free-near-2-32", container(replaced(fox, "f", fpt) + [("a", b"load\n"),
                                                                                   ("s", csv.encode())]))
    write(cr, "damaged-memo-next-free-near-2-32", container(replaced(fox, "f", fpt)))
    fpt = part(fox, "f")
    fpt[0:4] = be32(struct.unpack_from(">I", fpt, 0)[0] + 5)
    write(cw, "damaged-edit-memo-next-free-past-end", container(replaced(fox, "f", fpt) + [("a", b"edit\ngo 1\nmemo NOTE 10 q\n")]))
    # a memo whose stored length runs into the next memo: an edit rewrote it in place over the other
    dbf = part(fox, "d")
    first, second = note_block(dbf, 1), note_block(dbf, 4)
    fpt = part(fox, "f")
    fpt[first * 64 + 4: first * 64 + 8] = be32((second - first) * 64 + 200)
    write(cw, "damaged-edit-memo-length-into-next", container(replaced(fox, "f", fpt) + [("a", b"edit\ngo 1\nmemo NOTE 150 n\n")]))
    write(cr, "damaged-memo-length-into-next", container(replaced(fox, "f", fpt)))
    # two records pointing at one memo
    dbf = part(fox, "d")
    set_note(dbf, 4, first)
    write(cw, "damaged-edit-memo-shared", container(replaced(fox, "d", dbf) + [("a", b"edit\ngo 1\nmemo NOTE 5 s\n")]))
    # a refused pack wrote a record and the header's date: a memo past the end after records with memos
    dbf = part(fox, "d")
    set_note(dbf, 13, 999999)
    dbf[1:4] = b"\0\0\0"  # a date no write gives: the header write shows
    write(rw, "pack-memo-past-end-after-memos", container(replaced(fox, "d", dbf) + [("a", b"pack\n")]))
    # tags that opened but did not rebuild: pack committed the new table, then failed
    cdx = part(fox, "c")
    root = struct.unpack_from("<I", cdx, 0)[0]
    tail = bytes(cdx[root + 512 - 4: root + 512])
    cdx[root + 512 - 4: root + 512] = b"  " + tail[2:]
    write(rw, "pack-tag-name-with-blank", container(replaced(fox, "c", cdx) + [("a", b"pack\n")]))
    longexpr = m.table("long", FOX, "fox2", rows(5), (("CODE", "CODE" + " " * 501),))
    write(rw, "pack-expression-of-505-bytes", container(longexpr + [("a", b"pack\n")]))
    # a leaf's sibling pointer naming another tag's node, with the parent's key sending a seek past the leaf
    # (TOWN's keys have 20 bytes, CODE's 6: a seek on TOWN reading CODE's root ran past its keys)
    cdx = part(wide, "c")
    code, town = tag_header(cdx, "CODE"), tag_header(cdx, "TOWN")
    leaf = first_leaf(cdx, town)
    cdx[leaf + 8: leaf + 12] = le32(struct.unpack_from("<I", cdx, code)[0])
    town_root = struct.unpack_from("<I", cdx, town)[0]
    for k in range(struct.unpack_from("<H", cdx, town_root + 2)[0]):
        cdx[town_root + 12 + k * 28: town_root + 32 + k * 28] = b"\xff" * 20
    seek = ("TOWN " + "\u00ff" * 19 + "\u00fe\n").encode("utf-8")  # after every key, before the parent's
    write(r, "sibling-into-another-tag", container(replaced(wide, "c", cdx) + [("a", seek)]))
    write(cw, "damaged-load-sibling-into-another-tag", container(replaced(wide, "c", cdx) + [("a", b"load\n"),
                                                                                      ("s", csv.encode())]))
    # a compact leaf whose record number field has 60 bits: an undefined shift
    cdx = part(wide, "c")
    leaf = first_leaf(cdx, tag_header(cdx, "CODE"))
    cdx[leaf + 2: leaf + 4] = struct.pack("<H", 4)
    cdx[leaf + 20: leaf + 24] = bytes([60, 4, 0, 8])
    write(r, "leaf-with-60-bit-record-numbers", container(replaced(wide, "c", cdx) + [("a", b"CODE A0A0A0\n")]))
    # leftovers of an interrupted pack beside an intact table: a marker, and a damaged new table
    dbf = part(fox, "d")
    marker = b"xbase pack 1\ntable %d %016x t.dbf\n" % (len(dbf), 0x1234)
    dbf[600] ^= 0x20
    write(cw, "damaged-pack-leftovers", container(fox + [("m", marker), ("p", bytes(dbf)),
                                                                     ("a", b"edit\ngo 1\nset TOWN X\n")]))
    # copyStructure of a Visual FoxPro table whose backlink is short: its field descriptors were zeroed
    dbf = part(vfp, "d")
    header = struct.unpack_from("<H", dbf, 8)[0]
    fields_end = 32
    while dbf[fields_end] != 0x0D:
        fields_end += 32
    short = fields_end + 1 + 100
    dbf = dbf[:short] + dbf[header:]
    dbf[8:10] = struct.pack("<H", short)
    write(rw, "copy-vfp-short-backlink", container(replaced(vfp, "d", dbf) + [("a", b"copy\n")]))
    # a text literal of more than 1024 bytes in SUBSTR: a stack buffer overflow
    write(rk, "literal-of-2000-bytes", layout + b"SUBSTR('" + b"x" * 2000 + b"',1,5)\x00" + record)
    write(rk, "nested-5000-deep", layout + b"(" * 5000 + b"F0" + b")" * 5000 + b"\x00" + record)
    m.close()


if __name__ == "__main__":
    main()
