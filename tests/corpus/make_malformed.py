#!/usr/bin/env python3
"""Writes the malformed AppleDouble sidecars of tests/corpus/malformed/.

Each file breaks exactly one rule a strict reader enforces; its name says which.
The bytes are committed; run this only to regenerate them:
    python3 tests/corpus/make_malformed.py
"""
import os
import pathlib
import struct

HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "malformed")
MAGIC, VERSION = 0x00051607, 0x00020000
MAC_FILLER = b"Mac OS X".ljust(16, b" ")
FINDER_INFO = b"TEXTttxt" + b"\x01\x00" + bytes(22)
TAGS = b"com.apple.metadata:_kMDItemUserTags\0"


def sidecar(entries, body_size, magic=MAGIC, version=VERSION, count=None, filler=MAC_FILLER):
    """entries: (id, offset, length, bytes-or-None). body_size: total file size."""
    head = struct.pack(">II16sH", magic, version, filler, len(entries) if count is None else count)
    for eid, off, length, _ in entries:
        head += struct.pack(">III", eid, off, length)
    out = bytearray(head.ljust(body_size, b"\0"))
    for eid, off, length, data in entries:
        if data is not None:
            out[off:off + len(data)] = data
    return bytes(out[:body_size])


def attr_sidecar(total_size=3810, data_start=188, num_attrs=2, entries=None,
                 values=(bytes(range(91)), b"baz"), debug=0x1234, fork=b""):
    """macOS's 4096-byte shape: Finder info with an ATTR block, then the fork
    (none here; macOS's own sidecars hold a blank one)."""
    if entries is None:
        entries = [(188, 91, TAGS), (279, 3, b"foo:bar\0")]
    block = struct.pack(">4sIIIIIIIHH", b"ATTR", debug, total_size, data_start, 94, 0, 0, 0, 0,
                        num_attrs)
    for off, length, name in entries:
        e = struct.pack(">IIHB", off, length, 0, len(name)) + name
        block += e.ljust((len(e) + 3) & ~3, b"\0")
    fi = bytearray(FINDER_INFO + b"\0\0" + block)
    fi = fi.ljust(188 - 50, b"\0") + values[0] + values[1]
    fi = bytes(fi.ljust(3760, b"\0"))
    return sidecar([(9, 50, 3760, fi), (2, 3810, len(fork), fork)], 3810 + len(fork))


def write(name, data):
    pathlib.Path(HERE, name).write_bytes(data)


def main():
    os.makedirs(HERE, exist_ok=True)
    g = [(9, 50, 32, FINDER_INFO), (2, 82, 10, b"hello fork")]  # a valid table
    write("too-short.ad", sidecar(g, 92)[:20])
    write("empty.ad", b"")
    write("bad-magic-applesingle.ad", sidecar(g, 92, magic=0x00051600))
    write("bad-magic-little-endian.ad",
          struct.pack("<II", MAGIC, VERSION) + sidecar(g, 92)[8:])
    write("bad-version-1.ad", sidecar(g, 92, version=0x00010000))
    write("zero-entries.ad", sidecar(g, 92, count=0))
    many = [(i + 1, 218 + i, 1, b"x") for i in range(16)]
    write("sixteen-entries.ad", sidecar(many, 234))
    # Three descriptors announced, the file ends inside the third.
    write("truncated-table.ad", sidecar(g + [(4, 90, 0, None)], 92, count=3)[:56])
    write("id-zero.ad", sidecar([(9, 50, 32, FINDER_INFO), (0, 82, 10, b"hello fork")], 92))
    write("duplicate-id.ad", sidecar([(9, 50, 32, FINDER_INFO), (9, 82, 32, FINDER_INFO)], 114))
    write("overlapping-entries.ad",
          sidecar([(9, 50, 32, FINDER_INFO), (2, 70, 22, None)], 92))
    write("entry-inside-header.ad",
          sidecar([(9, 40, 32, FINDER_INFO), (2, 82, 10, b"hello fork")], 92))
    write("offset-past-end.ad", sidecar([(9, 50, 32, FINDER_INFO), (2, 200, 10, None)], 92))
    write("length-past-end.ad", sidecar([(9, 50, 32, FINDER_INFO), (2, 82, 100, None)], 92))
    write("length-wraps-32-bits.ad",
          sidecar([(9, 50, 32, FINDER_INFO), (2, 82, 0xFFFFFFFF, None)], 92))
    write("offset-wraps-32-bits.ad",
          sidecar([(9, 50, 32, FINDER_INFO), (2, 0xFFFFFFF0, 0x20, None)], 92))
    write("finder-info-short.ad", sidecar([(9, 50, 16, FINDER_INFO[:16]), (2, 66, 10, None)], 76))
    write("attr-total-size-past-entry.ad", attr_sidecar(total_size=4000))
    write("attr-too-many.ad", attr_sidecar(num_attrs=2000))
    write("attr-data-start-in-header.ad", attr_sidecar(data_start=100))
    write("attr-value-past-block.ad", attr_sidecar(entries=[(188, 91, TAGS), (3800, 30, b"foo:bar\0")]))
    write("attr-name-unterminated.ad", attr_sidecar(entries=[(188, 91, TAGS), (279, 3, b"foo:barX")]))


if __name__ == "__main__":
    main()
