#!/usr/bin/python3
"""Reads a compound file written by our writer with python3-olefile, an
independent reader, and compares everything in it with a manifest.

    olefile_check.py FILE MANIFEST

MANIFEST has one line per element, tab-separated: the path ("/" for the
root, else names joined by "/"), "storage" or "stream", the size, the CRC-32
of the content, the class id as 32 hex digits, the creation and the
modification time (FILETIME). Exits 0 when olefile reports no defect and
finds exactly these elements with these contents, classes and times.
"""
import datetime
import sys
import uuid
import zlib

import olefile


def filetime(value):
    if value == 0:
        return None
    return datetime.datetime(1601, 1, 1) + datetime.timedelta(microseconds=value // 10)


def clsid(hex_digits):
    raw = bytes.fromhex(hex_digits)
    if raw == bytes(16):
        return ""
    return str(uuid.UUID(bytes_le=raw)).upper()


def main(path, manifest_path):
    problems = []
    expected = {}
    with open(manifest_path, encoding="utf-8") as manifest:
        for line in manifest:
            name, kind, size, crc, cls, created, modified = line.rstrip("\n").split("\t")
            expected[name] = (kind, int(size), int(crc), clsid(cls), int(created), int(modified))

    # Anything olefile finds questionable raises at once.
    ole = olefile.OleFileIO(path, raise_defects=olefile.DEFECT_INCORRECT)
    for issue in ole.parsing_issues:
        problems.append("olefile noticed: %r" % (issue,))

    root = expected.pop("/")
    if ole.root.clsid != root[3]:
        problems.append("root: class %r, expected %r" % (ole.root.clsid, root[3]))
    if ole.root.getctime() != filetime(root[4]) or ole.root.getmtime() != filetime(root[5]):
        problems.append("root: times %r %r" % (ole.root.getctime(), ole.root.getmtime()))

    found = {}
    for parts in ole.listdir(streams=True, storages=True):
        found["/".join(parts)] = parts
    for name in sorted(set(found) - set(expected)):
        problems.append("%s: not in the manifest" % name)
    for name in sorted(set(expected) - set(found)):
        problems.append("%s: missing" % name)

    streams = storages = 0
    for name in sorted(set(found) & set(expected)):
        kind, size, crc, cls, created, modified = expected[name]
        actual_kind = {olefile.STGTY_STORAGE: "storage", olefile.STGTY_STREAM: "stream"}.get(
            ole.get_type(name), "other")
        if actual_kind != kind:
            problems.append("%s: a %s, expected a %s" % (name, actual_kind, kind))
            continue
        if ole.getclsid(name) != cls:
            problems.append("%s: class %r, expected %r" % (name, ole.getclsid(name), cls))
        if ole.getctime(name) != filetime(created) or ole.getmtime(name) != filetime(modified):
            problems.append("%s: times %r %r" % (name, ole.getctime(name), ole.getmtime(name)))
        if kind == "storage":
            storages += 1
        else:
            streams += 1
            data = ole.openstream(name).read()
            if ole.get_size(name) != size or len(data) != size:
                problems.append("%s: %d bytes (%d read), expected %d"
                                % (name, ole.get_size(name), len(data), size))
            elif zlib.crc32(data) != crc:
                problems.append("%s: content differs" % name)
    ole.close()

    for p in problems:
        print(p)
    print("%d streams and %d storages compared, %d problems" % (streams, storages, len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
