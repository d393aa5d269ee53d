#!/usr/bin/env python3
"""Writes the keyed archives in tests/data/archives.

Each archive is spelled out object by object, in the layout the platform's
keyed archiver produces: "$null" at UID 0, the root at UID 1, every object
taking its UID when first met and its members following it depth-first
(a dictionary's keys first, then its values), each class record appended
right after the first object of its class is complete, strings, numbers,
booleans and data as plain values in "$objects", equal strings and numbers
written once, scalars of an object's own keys inline in its record.

Run from anywhere: python3 tests/data/make-archives.py
"""

import os
import plistlib
from plistlib import UID

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "archives")


def cls(*chain):
    return {"$classes": list(chain), "$classname": chain[0]}


def refs(*uids):
    return [UID(u) for u in uids]


def archive(objects, root=1):
    assert objects[0] == "$null"
    return {
        "$version": 100000,
        "$archiver": "NSKeyedArchiver",
        "$top": {"root": UID(root)},
        "$objects": objects,
    }


def write(name, plist):
    data = plistlib.dumps(plist, fmt=plistlib.FMT_BINARY, sort_keys=False)
    with open(os.path.join(OUT, name), "wb") as f:
        f.write(data)


def foundation():
    # A mutable dictionary of every plain kind, arrays and nested dictionaries.
    # The string "title" is both a key and an element of "names": one UID.
    return archive([
        "$null",
        {"NS.keys": refs(2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12),
         "NS.objects": refs(13, 14, 15, 16, 17, 18, 19, 20, 21, 25, 34),
         "$class": UID(35)},
        "title", "count", "negative", "big", "ratio", "enabled", "hidden", "blob", "names", "nested", "empty",
        "Reel 1 \u2014 \u00dcberblendung \u2669",
        42,
        -7,
        1 << 40,
        0.25,
        True,
        False,
        b"\x00\x01\x02\xff",
        {"NS.objects": refs(22, 23, 2), "$class": UID(24)},
        "a",
        "b",
        cls("NSArray", "NSObject"),
        {"NS.keys": refs(26, 27), "NS.objects": refs(28, 18), "$class": UID(33)},
        "inner",
        "flag",
        {"NS.objects": refs(29, 30, 31), "$class": UID(32)},
        1,
        2.5,
        {"NS.objects": [], "$class": UID(24)},
        cls("NSMutableArray", "NSArray", "NSObject"),
        cls("NSDictionary", "NSObject"),
        {"NS.keys": [], "NS.objects": [], "$class": UID(35)},
        cls("NSMutableDictionary", "NSDictionary", "NSObject"),
    ])


def mutable():
    # Mutable strings and data as the platform writes them.
    return archive([
        "$null",
        {"NS.keys": refs(2, 3, 4), "NS.objects": refs(5, 7, 9), "$class": UID(10)},
        "text", "bytes", "plain",
        {"NS.string": "Cue 1M1", "$class": UID(6)},
        cls("NSMutableString", "NSString", "NSObject"),
        {"NS.data": b"\x01\x02", "$class": UID(8)},
        cls("NSMutableData", "NSData", "NSObject"),
        "Cue 1M1",
        cls("NSDictionary", "NSObject"),
    ])


def colors():
    # One colour of each colour space; the last two share their colour-space
    # object, a class this program does not know.
    def rgb(space, text):
        return {"NSColorSpace": space, "NSRGB": text, "$class": UID(3)}

    return archive([
        "$null",
        {"NS.objects": refs(2, 4, 5, 6, 7, 8, 9, 13, 16), "$class": UID(17)},
        rgb(1, b"1 0.5 0.25\x00"),
        cls("NSColor", "NSObject"),
        rgb(1, b"0 0 1 0.5\x00"),
        rgb(2, b"0.2 0.4 0.6\x00"),
        {"NSColorSpace": 3, "NSWhite": b"0.5\x00", "$class": UID(3)},
        {"NSColorSpace": 4, "NSWhite": b"0.25 0.75\x00", "$class": UID(3)},
        {"NSColorSpace": 5, "NSCMYK": b"0 1 1 0.5\x00", "$class": UID(3)},
        {"NSColorSpace": 6, "NSCatalogName": UID(10), "NSColorName": UID(11), "NSColor": UID(12),
         "$class": UID(3)},
        "System",
        "controlColor",
        {"NSColorSpace": 3, "NSWhite": b"0.9\x00", "$class": UID(3)},
        {"NSColorSpace": 10, "NSComponents": b"1 0.5 0 1\x00", "NSCustomColorSpace": UID(14), "$class": UID(3)},
        {"NSID": 7, "$class": UID(15)},
        cls("NSColorSpace", "NSObject"),
        {"NSColorSpace": 2, "NSRGB": b"0.1 0.2 0.3\x00", "NSComponents": b"0.1 0.2 0.3 1\x00",
         "NSCustomColorSpace": UID(14), "$class": UID(3)},
        cls("NSArray", "NSObject"),
    ])


def unknown():
    # Classes this program does not know, as a document holds them: sort
    # descriptors, a rectangle as a string, a timecode, a set, and a class of
    # a later version with an escaped "$" key and inline containers.
    return archive([
        "$null",
        {"NS.keys": refs(2, 3, 4, 5, 6), "NS.objects": refs(7, 8, 21, 23, 27), "$class": UID(20)},
        "documentWindowFrame", "documentWindowOptions", "timecode", "tags", "future",
        "{{10, 20}, {800, 600}}",
        {"NS.keys": refs(9, 10, 11), "NS.objects": refs(12, 18, 19), "$class": UID(20)},
        "cueSortDescriptors", "reelSortDescriptors", "selectedCueID",
        {"NS.objects": refs(13), "$class": UID(17)},
        {"NSKey": UID(14), "NSAscending": True, "NSSelector": UID(15), "$class": UID(16)},
        "cueNumber",
        "compare:",
        cls("NSSortDescriptor", "NSObject"),
        cls("NSArray", "NSObject"),
        {"NS.objects": [], "$class": UID(17)},
        3,
        cls("NSMutableDictionary", "NSDictionary", "NSObject"),
        {"EMTimecodeHH": 1, "EMTimecodeMM": 0, "EMTimecodeSS": 0, "EMTimecodeFF": 2, "EMTimecodeBits": 40,
         "EMTimecodeFramerate.fps": 30, "EMTimecodeFramerate.videoSpeed": True,
         "EMTimecodeFramerate.dropFrame": True, "$class": UID(22)},
        cls("EMTimecode", "NSObject"),
        {"NS.objects": refs(24, 25), "$class": UID(26)},
        "a",
        "b",
        cls("NSSet", "NSObject"),
        {"$$dollar": 5, "nested": {"x": UID(24), "y": 2.5}, "list": [1, UID(28)], "$class": UID(29)},
        {"NS.objects": refs(24), "$class": UID(17)},
        cls("TLFutureThing", "TLThing", "NSObject"),
    ])


def shared():
    # One mutable dictionary reached three times.
    return archive([
        "$null",
        {"NS.objects": refs(2, 2, 6, 9), "$class": UID(10)},
        {"NS.keys": refs(3), "NS.objects": refs(4), "$class": UID(5)},
        "name",
        "shared",
        cls("NSMutableDictionary", "NSDictionary", "NSObject"),
        {"NS.keys": refs(7), "NS.objects": refs(2), "$class": UID(8)},
        "again",
        cls("NSDictionary", "NSObject"),
        "tail",
        cls("NSArray", "NSObject"),
    ])


def registered():
    # A class the tests register, decoding itself under its own keys; the
    # child's "child" is the nil reference.
    return archive([
        "$null",
        {"title": UID(2), "count": 7, "gain": 0.5, "enabled": True, "payload": b"\xde\xad", "child": UID(3),
         "$class": UID(5)},
        "Main Title",
        {"title": UID(4), "count": -1, "gain": 1.5, "enabled": False, "payload": b"", "child": UID(0),
         "$class": UID(5)},
        "Child",
        cls("TLArchiveTestThing", "NSObject"),
    ])


def string_root():
    return archive(["$null", "just a string"])


def main():
    os.makedirs(OUT, exist_ok=True)
    write("foundation.archive", foundation())
    write("mutable.archive", mutable())
    write("colors.archive", colors())
    write("unknown.archive", unknown())
    write("shared.archive", shared())
    write("registered.archive", registered())
    write("string.archive", string_root())


if __name__ == "__main__":
    main()
