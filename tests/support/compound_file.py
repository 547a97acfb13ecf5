"""Compound files (the container of .xls workbooks), independently of the code under test.

  compound_file.py list FILE
      prints JSON {"PATH": {"type": "storage"} or {"type": "stream", "size": N, "sha256": HEX}}
      for every storage and stream reachable from the root; PATH joins names with "/".
  compound_file.py build OUT NAME=FILE...
      writes a version 3 compound file whose streams are the given files; a NAME holding "/"
      puts the stream into storages of those names. Streams under 4096 bytes go into the mini
      stream, as the format asks.
  compound_file.py read FILE PATH
      writes the stream's bytes to standard output."""
import hashlib
import json
import struct
import sys

SIGNATURE = b"\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1"
FREE, END, FATSECT, NOSTREAM = 0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0xFFFFFFFF
CUTOFF = 4096


def parse(path):
    data = open(path, "rb").read()
    assert data[:8] == SIGNATURE, "not a compound file"
    size = 1 << struct.unpack_from("<H", data, 30)[0]
    nfat, first_dir, _, _, first_minifat, _, first_difat, _ = struct.unpack_from("<8I", data, 44)
    sector = lambda i: data[(i + 1) * size:(i + 2) * size]
    fat_sectors = list(struct.unpack_from("<109I", data, 76))
    d = first_difat
    while d < 0xFFFFFFFA:
        s = sector(d)
        fat_sectors += struct.unpack_from("<%dI" % (size // 4 - 1), s)
        d = struct.unpack_from("<I", s, size - 4)[0]
    fat = []
    for f in fat_sectors[:nfat]:
        fat += struct.unpack("<%dI" % (size // 4), sector(f))

    def chain(first):
        out, s, hops = b"", first, 0
        while s != END:
            out += sector(s)
            s = fat[s]
            hops += 1
            assert hops <= len(fat), "loop in a chain"
        return out

    directory = chain(first_dir)
    entries = []
    for k in range(0, len(directory) - 127, 128):
        e = directory[k:k + 128]
        n = struct.unpack_from("<H", e, 64)[0]
        left, right, child = struct.unpack_from("<3I", e, 68)
        start, length = struct.unpack_from("<IQ", e, 116)
        if size == 512:
            length &= 0xFFFFFFFF
        entries.append({"name": e[:max(n - 2, 0)].decode("utf-16-le"), "type": e[66],
                         "left": left, "right": right, "child": child, "start": start, "size": length})
    root = entries[0]
    mini = chain(root["start"])[:root["size"]] if root["size"] else b""
    minifat = []
    if first_minifat != END:
        table = chain(first_minifat)
        minifat = list(struct.unpack("<%dI" % (len(table) // 4), table))

    def content(e):
        if e["size"] >= CUTOFF:
            return chain(e["start"])[:e["size"]]
        out, s = b"", e["start"]
        while len(out) < e["size"]:
            out += mini[s * 64:(s + 1) * 64]
            s = minifat[s]
        return out[:e["size"]]

    found = {}

    def walk(index, prefix):
        todo = [index]
        while todo:
            i = todo.pop()
            if i == NOSTREAM:
                continue
            e = entries[i]
            todo += [e["left"], e["right"]]
            path = prefix + e["name"]
            if e["type"] == 1:
                found[path] = {"type": "storage"}
                walk(e["child"], path + "/")
            elif e["type"] == 2:
                found[path] = {"type": "stream", "bytes": content(e)}

    walk(root["child"], "")
    return found


def build(out, streams):
    # A tree of storages; every level's children hang from its child link as a right-leaning list
    # (all black), which readers accept as a tree.
    tree = {}
    for name, body in streams.items():
        node = tree
        parts = name.split("/")
        for p in parts[:-1]:
            node = node.setdefault(p, {})
        node[parts[-1]] = body
    entries = [None]
    big, mini, minifat = b"", b"", []
    big_chains = []

    def add(name, node):
        index = len(entries)
        entries.append(None)
        if isinstance(node, dict):
            child = add_level(node)
            entries[index] = [name, 1, child, 0, 0]
        else:
            nonlocal big, mini
            if len(node) >= CUTOFF:
                first = len(big) // 512
                big += node + b"\0" * (-len(node) % 512)
                big_chains.append((first, (len(node) + 511) // 512))
                entries[index] = [name, 2, NOSTREAM, first, len(node)]
            else:
                first = len(mini) // 64
                count = (len(node) + 63) // 64
                minifat.extend(first + k + 1 if k + 1 < count else END for k in range(count))
                mini += node + b"\0" * (-len(node) % 64)
                entries[index] = [name, 2, NOSTREAM, first if node else END, len(node)]
        return index

    def add_level(node):
        # Siblings must be ordered by length, then by upper-cased name.
        names = sorted(node, key=lambda n: (len(n), n.upper()))
        indexes = [add(n, node[n]) for n in names]
        for a, b in zip(indexes, indexes[1:]):
            entries[a].append(b)
        if indexes:
            entries[indexes[-1]].append(NOSTREAM)
        return indexes[0] if indexes else NOSTREAM

    root_child = add_level(tree)
    entries[0] = ["Root Entry", 5, root_child, 0, 0, NOSTREAM]
    nbig = len(big) // 512
    mini_sectors = (len(mini) + 511) // 512
    dir_bytes = b""
    for name, kind, child, start, length, right in entries:
        raw = name.encode("utf-16-le")
        e = raw + b"\0" * (64 - len(raw))
        e += struct.pack("<HBB3I", len(raw) + 2, kind, 1, NOSTREAM, right, child)
        e += b"\0" * 36
        if kind == 5:
            start, length = (nbig if mini else END), len(mini)
        e += struct.pack("<IQ", start, length)
        dir_bytes += e
    dir_bytes += (b"\0" * 68 + struct.pack("<3I", NOSTREAM, NOSTREAM, NOSTREAM) + b"\0" * 48) * ((-len(dir_bytes) // 128) % 4)
    dir_start = nbig + mini_sectors
    ndir = len(dir_bytes) // 512
    minifat_bytes = b"".join(struct.pack("<I", v) for v in minifat)
    minifat_bytes += struct.pack("<I", FREE) * ((-len(minifat_bytes) % 512) // 4)
    minifat_start = dir_start + ndir
    nminifat = len(minifat_bytes) // 512
    used = minifat_start + nminifat
    nfat = 1
    while (used + nfat + 127) // 128 > nfat:
        nfat += 1
    assert nfat <= 109
    fat = [FREE] * (nfat * 128)

    def run(first, count):
        for k in range(count):
            fat[first + k] = first + k + 1 if k + 1 < count else END

    for first, count in big_chains:
        run(first, count)
    run(nbig, mini_sectors)
    run(dir_start, ndir)
    run(minifat_start, nminifat)
    for k in range(nfat):
        fat[used + k] = FATSECT
    header = SIGNATURE + b"\0" * 16 + struct.pack("<HHHHH", 0x3E, 3, 0xFFFE, 9, 6) + b"\0" * 10
    header += struct.pack("<9I", nfat, dir_start, 0, CUTOFF, minifat_start if nminifat else END, nminifat, END, 0, 0)[:36]
    header = header[:76]
    header += b"".join(struct.pack("<I", used + k if k < nfat else FREE) for k in range(109))
    with open(out, "wb") as f:
        f.write(header + big + mini + b"\0" * (-len(mini) % 512) + dir_bytes + minifat_bytes)
        f.write(b"".join(struct.pack("<I", v) for v in fat))


def main(argv):
    if len(argv) >= 2 and argv[0] == "list":
        listing = {}
        for path, e in parse(argv[1]).items():
            if e["type"] == "stream":
                listing[path] = {"type": "stream", "size": len(e["bytes"]),
                                 "sha256": hashlib.sha256(e["bytes"]).hexdigest()}
            else:
                listing[path] = e
        json.dump(listing, sys.stdout, sort_keys=True)
        print()
        return 0
    if len(argv) >= 3 and argv[0] == "read":
        sys.stdout.buffer.write(parse(argv[1])[argv[2]]["bytes"])
        return 0
    if len(argv) >= 2 and argv[0] == "build":
        streams = {}
        for entry in argv[2:]:
            name, _, file = entry.partition("=")
            streams[name] = open(file, "rb").read()
        build(argv[1], streams)
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
