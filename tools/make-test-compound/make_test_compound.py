#!/usr/bin/env python3
"""Lists and rewrites compound files (the container of .doc/.xls/.ppt) for the type-detection tests.

  make_test_compound.py list FILE
  make_test_compound.py rewrite IN OUT [--first PART]... [--empty NAME]... [--sector-size 512|4096]

`rewrite` keeps every directory entry (names, tree, class ids, times) and every stream's bytes, but
lays the sectors out anew. The parts are the streams of 4096 bytes or more (by name) and the
containers :ministream, :minifat, :directory and :fat; by default they follow in that order (the
streams in directory order), and each --first moves a part to the front, in the order given. A
producer is free to order sectors any way it likes, so detection has to find a main stream
wherever it lies. --empty NAME stores that stream (leading control characters of its name ignored)
with no bytes: LibreOffice's PowerPoint export puts a 440 KB preview bitmap in SummaryInformation,
which a small test file does without.
"""
import argparse
import struct
import sys

MAGIC = bytes.fromhex("D0CF11E0A1B11AE1")
FREE, END_OF_CHAIN, FAT_SECTOR, DIFAT_SECTOR = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFC
NO_STREAM = 0xFFFFFFFF


class Entry:
    def __init__(self, raw):
        self.raw = bytearray(raw)
        name_len = struct.unpack_from("<H", raw, 0x40)[0]
        self.name = raw[: max(name_len - 2, 0)].decode("utf-16-le", "replace")
        self.kind = raw[0x42]
        self.left, self.right, self.child = struct.unpack_from("<III", raw, 0x44)
        self.start, self.size = struct.unpack_from("<IQ", raw, 0x74)
        self.data = b""


def read_compound(data):
    if data[:8] != MAGIC:
        sys.exit("not a compound file")
    shift = struct.unpack_from("<H", data, 0x1E)[0]
    mini_shift = struct.unpack_from("<H", data, 0x20)[0]
    size = 1 << shift
    (n_fat, first_dir, _, cutoff, first_minifat, n_minifat, first_difat, n_difat) = struct.unpack_from(
        "<IIIIIIII", data, 0x2C)

    def sector(n):
        return data[(n + 1) * size:(n + 2) * size]

    fat_sectors = list(struct.unpack_from("<109I", data, 0x4C))
    difat = first_difat
    for _ in range(n_difat):
        words = struct.unpack("<%dI" % (size // 4), sector(difat))
        fat_sectors += words[:-1]
        difat = words[-1]
    fat = []
    for s in fat_sectors[:n_fat]:
        fat += struct.unpack("<%dI" % (size // 4), sector(s))

    def chain(start, table):
        out, seen = [], set()
        while start < len(table) and start not in seen:
            seen.add(start)
            out.append(start)
            start = table[start]
        return out

    directory = b"".join(sector(s) for s in chain(first_dir, fat))
    entries = [Entry(directory[i:i + 128]) for i in range(0, len(directory), 128)]
    root = entries[0]
    root.data = b"".join(sector(s) for s in chain(root.start, fat))[:root.size]
    minifat_bytes = b"".join(sector(s) for s in chain(first_minifat, fat))
    minifat = list(struct.unpack("<%dI" % (len(minifat_bytes) // 4), minifat_bytes))
    mini = 1 << mini_shift
    for e in entries[1:]:
        if e.kind != 2:
            continue
        if e.size < cutoff:
            e.data = b"".join(root.data[s * mini:(s + 1) * mini] for s in chain(e.start, minifat))[:e.size]
        else:
            e.data = b"".join(sector(s) for s in chain(e.start, fat))[:e.size]
    return entries, cutoff, mini


def write_compound(entries, cutoff, mini, first, sector_size):
    shift = {512: 9, 4096: 12}[sector_size]
    per_sector = sector_size // 4

    # The small streams go into the mini stream, as any reader expects of streams under the cutoff.
    mini_stream, minifat = b"", []
    for e in entries[1:]:
        if e.kind == 2 and 0 < len(e.data) < cutoff:
            blocks = -(-len(e.data) // mini)
            e.start = len(minifat)
            minifat += [e.start + i + 1 for i in range(blocks - 1)] + [END_OF_CHAIN]
            mini_stream += e.data.ljust(blocks * mini, b"\0")
        elif e.kind == 2 and not e.data:
            e.start = END_OF_CHAIN
    root = entries[0]
    root.size = len(mini_stream)
    minifat_bytes = struct.pack("<%dI" % len(minifat), *minifat)
    n_dir = -(-len(entries) * 128 // sector_size)
    n_minifat = -(-len(minifat_bytes) // sector_size)

    parts = [e.name for e in entries[1:] if e.kind == 2 and len(e.data) >= cutoff]
    parts += [":ministream", ":minifat", ":directory", ":fat"]
    for name in reversed(first):
        if name not in parts:
            sys.exit("no part named %r" % name)
        parts.remove(name)
        parts.insert(0, name)

    def count(payload_size):
        return -(-payload_size // sector_size)

    sizes = {e.name: count(len(e.data)) for e in entries[1:] if e.kind == 2 and len(e.data) >= cutoff}
    sizes[":ministream"] = count(len(mini_stream))
    sizes[":minifat"] = n_minifat
    sizes[":directory"] = n_dir
    # The FAT describes itself too: grow it until its own sectors fit.
    others = sum(n for name, n in sizes.items())
    n_fat = 1
    while count((others + n_fat) * 4) > n_fat:
        n_fat += 1
    if n_fat > 109:
        sys.exit("file too large for a header-only DIFAT")
    sizes[":fat"] = n_fat

    starts, at = {}, 0
    for name in parts:
        starts[name] = at if sizes[name] else END_OF_CHAIN
        at += sizes[name]
    fat = [FREE] * (n_fat * per_sector)
    for name in parts:
        for i in range(sizes[name]):
            last = i + 1 == sizes[name]
            fat[starts[name] + i] = FAT_SECTOR if name == ":fat" else (END_OF_CHAIN if last else starts[name] + i + 1)

    streams = {e.name: e for e in entries[1:] if e.kind == 2 and len(e.data) >= cutoff}
    for name, e in streams.items():
        e.start = starts[name]
    root.start = starts[":ministream"]
    for e in entries:
        size = len(e.data) if e.kind == 2 else (root.size if e is root else 0)
        struct.pack_into("<IQ", e.raw, 0x74, e.start if e.kind in (2, 5) else 0, size)
    payloads = {name: e.data for name, e in streams.items()}
    payloads[":ministream"] = mini_stream
    payloads[":minifat"] = minifat_bytes
    # Unused entries fill the last directory sector: no name, no links.
    unused = bytes(0x44) + b"\xff" * 12 + bytes(128 - 0x50)
    payloads[":directory"] = b"".join(bytes(e.raw) for e in entries) + unused * (n_dir * sector_size // 128 - len(entries))
    payloads[":fat"] = struct.pack("<%dI" % len(fat), *fat)
    body = b"".join(payloads[name].ljust(sizes[name] * sector_size, b"\0") for name in parts)

    header = bytearray(512)
    header[0:8] = MAGIC
    struct.pack_into("<HHHHH", header, 0x18, 0x3E, 3 if shift == 9 else 4, 0xFFFE, shift, 6)
    struct.pack_into("<IIIIIIIII", header, 0x28, n_dir if shift == 12 else 0, n_fat, starts[":directory"], 0,
                     cutoff, starts[":minifat"], n_minifat, END_OF_CHAIN, 0)
    difat = [starts[":fat"] + i for i in range(n_fat)] + [FREE] * (109 - n_fat)
    struct.pack_into("<109I", header, 0x4C, *difat)
    return bytes(header).ljust(sector_size, b"\0") + body


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    sub = parser.add_subparsers(dest="command", required=True)
    show = sub.add_parser("list")
    show.add_argument("file")
    rewrite = sub.add_parser("rewrite")
    rewrite.add_argument("input")
    rewrite.add_argument("output")
    rewrite.add_argument("--first", action="append", default=[])
    rewrite.add_argument("--empty", action="append", default=[])
    rewrite.add_argument("--sector-size", type=int, choices=(512, 4096), default=512)
    args = parser.parse_args()

    if args.command == "list":
        with open(args.file, "rb") as f:
            data = f.read()
        entries, _, _ = read_compound(data)
        for i, e in enumerate(entries):
            if e.kind:
                print(f"{i:3} type {e.kind} start {e.start:#010x} size {e.size:8} "
                      f"left {e.left:#x} right {e.right:#x} child {e.child:#x} {e.name!r}")
        return
    with open(args.input, "rb") as f:
        entries, cutoff, mini = read_compound(f.read())
    for e in entries:
        if e.kind == 2 and e.name.lstrip("\x01\x05") in args.empty:
            e.data = b""
    with open(args.output, "wb") as f:
        f.write(write_compound(entries, cutoff, mini, args.first, args.sector_size))


if __name__ == "__main__":
    main()
