#!/usr/bin/env python3
"""Writes netatalk 2's ".AppleDouble/<name>" header files for the tests.

netatalk 2 (afpd 2.x, "adouble:v2") keeps a file's Finder info, comment,
dates, ids and resource fork in ".AppleDouble/<name>" beside the file. Debian
no longer ships it, so these files are built byte for byte from its layout: a
741-byte header of 13 descriptors in the order afpd writes them, each entry at
its fixed slot, then the resource fork to the end of the file. Into peers/:
a served file with its fork, the header of a file only looked at, a folder's
".Parent", a header rewritten over an older one; into netatalk2-malformed/:
headers that each break one rule a careful reader enforces. The bytes are
committed; run this only to regenerate them:
    python3 tests/corpus/make_netatalk2_samples.py
"""
import os
import pathlib
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
PEERS = os.path.join(HERE, "peers")
MALFORMED = os.path.join(HERE, "netatalk2-malformed")

MAGIC, VERSION = 0x00051607, 0x00020000
HEADER = 741
UNKNOWN_DATE = 0x80000000
EPOCH_2000 = 946684800

# (id, slot offset, slot size) in the order afpd writes the descriptors.
DEV, INO, SYN, ID = 0x80444556, 0x80494E4F, 0x8053594E, 0x8053567E
SLOTS = [
    (2, 741, None),  # resource fork, to the end of the file
    (3, 182, 255),   # real name
    (4, 437, 200),   # comment
    (8, 637, 16),    # file dates
    (9, 653, 32),    # Finder info
    (11, 705, 8),    # ProDOS file info
    (13, 693, 12),   # AFP short name
    (14, 689, 4),    # AFP file info
    (15, 685, 4),    # AFP directory id
    (DEV, 713, 8),
    (INO, 721, 8),
    (SYN, 729, 8),
    (ID, 737, 4),
]


def fork_bytes(n, mul=7, add=3):
    return bytes((i * mul + add) % 256 for i in range(n))


def dates(create, modify, backup, access):
    return struct.pack(">IIII", *[(d - EPOCH_2000) & 0xFFFFFFFF if d != UNKNOWN_DATE else d
                                  for d in (create, modify, backup, access)])


def finder_info(ftype, creator, flags):
    return ftype + creator + struct.pack(">H", flags) + bytes(22)


def header(values, fork=b"", filler=bytes(16), slots=SLOTS, version=VERSION, magic=MAGIC,
           base=bytes(HEADER)):
    """values: id -> bytes written at the id's slot, its length in the
    descriptor. `base` is the 741 bytes the entries are written over (a reused
    header)."""
    body = bytearray(base)
    table = struct.pack(">II16sH", magic, version, filler, len(slots))
    for eid, off, size in slots:
        data = fork if eid == 2 else values.get(eid, b"")
        if eid != 2:
            assert len(data) <= size
            body[off:off + len(data)] = data
        table += struct.pack(">III", eid, off, len(data))
    body[0:len(table)] = table
    return bytes(body) + fork


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    pathlib.Path(folder, name).write_bytes(data)


def main():
    mtime = 1262304000  # 2010-01-01
    served = {
        3: b"sample",
        4: b"a comment set from the Finder",
        8: dates(mtime - 86400, mtime, UNKNOWN_DATE, mtime + 60),
        9: finder_info(b"TEXT", b"ttxt", 0x0100),
        11: bytes(8),
        14: struct.pack(">HH", 0, 0x0000),
        15: struct.pack(">I", 17),
        DEV: struct.pack("<Q", 0x803),        # st_dev, host order
        INO: struct.pack("<Q", 1234567),      # st_ino, host order
        SYN: b"\x4b\x3d\x9e\x10\x00\x00\x00\x01",  # the volume's stamp
        ID: struct.pack(">I", 42),            # the file's CNID
    }
    fork = fork_bytes(700)
    write(PEERS, "netatalk2-fork.ad", header(served, fork))
    write(PEERS, "netatalk2-fork.rsrc", fork)

    # new_rfork: every slot written, only the dates and the empty fixed-size
    # entries have a length; name, comment, short name and ids are empty.
    fresh = {8: dates(mtime, mtime, UNKNOWN_DATE, mtime), 9: bytes(32), 11: bytes(8),
             14: bytes(4), 15: bytes(4)}
    write(PEERS, "netatalk2-empty.ad", header(fresh))
    parent = {**fresh, 9: bytes(16) + struct.pack(">I", 0) + bytes(12)}  # folder Finder info
    write(PEERS, "netatalk2-parent.ad", header(parent))

    # An older header whose slots held longer values, written over by afpd 2.2:
    # the bytes past each new value stay, as does the filler it read.
    old = bytearray(header({3: b"an older and much longer real name of the file",
                            4: b"an older comment, longer than the one that replaced it"}))
    stale = {**served, 3: b"stale", 4: b"short", 9: finder_info(b"APPL", b"CARO", 0x2100)}
    write(PEERS, "netatalk2-stale.ad",
          header(stale, fork_bytes(100, 13, 5), filler=b"Netatalk".ljust(16, b" "), base=old))

    # ---- malformed: each breaks exactly one rule ----
    good = header(served, fork)

    def patched(descriptor, field, value, data=good):
        """`data` with field 0 (id), 1 (offset) or 2 (length) of a descriptor set."""
        b = bytearray(data)
        struct.pack_into(">I", b, 26 + 12 * descriptor + 4 * field, value)
        return bytes(b)

    # A write or truncation that stopped before (or after) the length field.
    write(MALFORMED, "fork-length-short.ad", patched(0, 2, 500))
    write(MALFORMED, "fork-length-long.ad", patched(0, 2, 900))
    write(MALFORMED, "truncated-header.ad", good[:600])
    write(MALFORMED, "too-short.ad", good[:20])
    write(MALFORMED, "version-1.ad", header(served, fork, version=0x00010000))
    write(MALFORMED, "applesingle.ad", header(served, fork, magic=0x00051600))
    write(MALFORMED, "id-zero.ad", patched(5, 0, 0))
    write(MALFORMED, "duplicate-id.ad", patched(5, 0, 9))
    write(MALFORMED, "unknown-id.ad", patched(12, 0, 0x80000001))
    # Twelve descriptors (the last one dropped), and the fork four bytes after
    # the header: netatalk lays both out again when it opens them.
    write(MALFORMED, "twelve-entries.ad", header(served, fork, slots=SLOTS[:12]))
    write(MALFORMED, "fork-not-at-741.ad", patched(0, 1, 745, good[:741] + bytes(4) + fork))
    # The comment runs over the dates slot; Finder info shorter than 32 bytes.
    write(MALFORMED, "comment-over-dates.ad", patched(2, 2, 210))
    write(MALFORMED, "finder-info-short.ad", patched(4, 2, 16))

if __name__ == "__main__":
    main()
