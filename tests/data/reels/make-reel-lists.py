#!/usr/bin/env python3
"""Writes the reel lists in tests/data/reels, in the layout the original
platform's keyed archiver produces.

elsewhere.tollvane is a reel list as a copy of the program on the original
platform saves it: its movie references carry that platform's alias records,
which this program cannot resolve, beside the last known paths. The first
reel's record is a data object, the second's is held inline in the alias's
own record; the third reel has no movie and no start.

Layout: "$null" at UID 0, the root at UID 1, every object taking its UID
when first met and its members following it depth-first (a dictionary's
keys first, then its values), each class record appended right after the
first object of its class is complete, strings and numbers written once.

Run from anywhere: python3 tests/data/reels/make-reel-lists.py
"""

import os
import plistlib
import struct
from plistlib import UID

HERE = os.path.dirname(os.path.abspath(__file__))


class Obj:
    def __init__(self, chain, fields):
        self.chain = chain
        self.fields = fields  # (key, value) in encoding order; Inline(...) stays in the record


class Inline:
    def __init__(self, value):
        self.value = value


def archive(root):
    objects = ["$null"]
    seen = {}
    classes = {}

    def ref(value):
        if value is None:
            return UID(0)
        if isinstance(value, (str, int, float)) and not isinstance(value, bool):
            key = (type(value), value)
            if key in seen:
                return UID(seen[key])
            objects.append(value)
            seen[key] = len(objects) - 1
            return UID(seen[key])
        if isinstance(value, bytes):
            objects.append(value)
            return UID(len(objects) - 1)
        uid = len(objects)
        objects.append(None)
        record = {}
        if isinstance(value, Obj):
            for key, field in value.fields:
                record[key] = field.value if isinstance(field, Inline) else ref(field)
            chain = value.chain
        elif isinstance(value, list):
            record["NS.objects"] = [ref(item) for item in value]
            chain = ["NSMutableArray", "NSArray", "NSObject"]
        elif isinstance(value, dict):
            record["NS.keys"] = [ref(key) for key in value]
            record["NS.objects"] = [ref(item) for item in value.values()]
            chain = ["NSDictionary", "NSObject"]
        else:
            raise TypeError(value)
        if chain[0] not in classes:
            objects.append({"$classes": chain, "$classname": chain[0]})
            classes[chain[0]] = len(objects) - 1
        record["$class"] = UID(classes[chain[0]])
        objects[uid] = record
        return UID(uid)

    top = ref(root)
    assert top == UID(1)
    return {"$version": 100000, "$archiver": "NSKeyedArchiver", "$top": {"root": top}, "$objects": objects}


def pascal(text, size):
    raw = text.encode("mac_roman")
    return bytes([len(raw)]) + raw + b"\x00" * (size - 1 - len(raw))


def alias_record(volume, name, parent_id, file_id):
    # A version 2 alias record: fixed part, then tagged variable parts ending
    # in tag -1.
    fixed = (struct.pack(">4sHH", b"\x00\x00\x00\x00", 0, 2) + struct.pack(">H", 0) +
             pascal(volume, 28) + struct.pack(">I2sH", 0xC8A1B2C3, b"H+", 5) +
             struct.pack(">I", parent_id) + pascal(name, 64) +
             struct.pack(">II4s4s", file_id, 0xC8A1B2D4, b"MooV", b"TVOD") +
             struct.pack(">hh", -1, -1) + struct.pack(">II", 0, 0) + b"\x00" * 10)
    path = ("%s:Picture:%s" % (volume, name)).encode("mac_roman")
    tagged = struct.pack(">hh", 2, len(path)) + path + (b"\x00" if len(path) % 2 else b"")
    tagged += struct.pack(">hh", -1, 0)
    record = bytearray(fixed + tagged)
    struct.pack_into(">H", record, 4, len(record))
    return bytes(record)


def timecode(hh, mm, ss, ff, fps):
    return Obj(["EMTimecode", "NSObject"], [
        ("EMTimecodeHH", Inline(hh)), ("EMTimecodeMM", Inline(mm)), ("EMTimecodeSS", Inline(ss)),
        ("EMTimecodeFF", Inline(ff)), ("EMTimecodeBits", Inline(0)), ("EMTimecodeFramerate.fps", Inline(fps)),
        ("EMTimecodeFramerate.videoSpeed", Inline(False)), ("EMTimecodeFramerate.dropFrame", Inline(False))])


def alias(record, last_known_path, inline=False):
    return Obj(["FFAlias", "NSObject"], [
        ("alias", Inline(record) if inline else record), ("lastKnownPath", last_known_path)])


def reel(movie, start, title, reel_id):
    return Obj(["Reel", "NSObject"], [
        ("movieFileAlias", movie), ("startTimecode", start), ("title", title), ("id", Inline(reel_id))])


def elsewhere():
    return {"reels": [
        reel(alias(alias_record("Picture", "Reel 1.mov", 0x1F2E, 0x3D4C), "/Volumes/Picture/Reel 1.mov"),
             timecode(1, 0, 0, 0, 25), "Reel 1", 1234567),
        reel(alias(alias_record("Picture", "Reel 2.mov", 0x1F2E, 0x3D4D), "/Volumes/Picture/Reel 2.mov",
                   inline=True),
             timecode(1, 20, 0, 0, 25), "Reel 2", 2345678),
        reel(None, None, "Reel 3", 3456789),
    ]}


def main():
    data = plistlib.dumps(archive(elsewhere()), fmt=plistlib.FMT_BINARY, sort_keys=False)
    with open(os.path.join(HERE, "elsewhere.tollvane"), "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
