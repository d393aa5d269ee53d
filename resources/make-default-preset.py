#!/usr/bin/env python3
"""Writes resources/TollvaneDefault.TollvanePreset, the event mapping that
Tollvane uses until the user stores one of their own.

The file is a keyed archive whose root object is a mutable array of TLEvents,
each archived as its contents dictionary ("NS.keys" and "NS.objects"), laid
out as the program's keyed archiver writes it: "$null" at UID 0, the root at
UID 1, every object taking its UID when first met and its members following
it depth-first (keys first, then values), each class record appended right
after the first object of its class is complete, equal strings and numbers
written once. Colours are archived colour data (a keyed archive of an
NSColor in calibrated RGB, "r g b" text with a NUL), as "eventColor" holds
them.

The mapping ("noteOn" is the MIDI note number minus 12; MIDI note 60 is C4):

  MIDI C2-B2 (noteOn 24-35): punches and flutters on the white keys, a cue
  start, a click and a run of beeps on the black keys.
  MIDI C3-B3, C4-B4, C5-B5, C6-B6 (noteOn 36-83): streamers on the white keys
  C, D, E, F, G of 2, 3, 4, 6 and 8 feet; green, yellow, red and blue by
  octave. A, B and the black keys are left free.

Run from anywhere: python3 resources/make-default-preset.py
"""

import os
import plistlib
from plistlib import UID

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "TollvaneDefault.TollvanePreset")


def four_cc(code):
    return int.from_bytes(code.encode("ascii"), "big")


STREAMER = four_cc("stmr")
PUNCH = four_cc("pnch")
CUE_START = four_cc("strt")
CLICK = four_cc("clix")
BEEPS = four_cc("beep")

WHITE = (1, 1, 1)
MIDI_NOTE_OFFSET = 12


def color_data(rgb):
    """Archived colour data of an opaque calibrated RGB colour."""
    text = " ".join("%.10g" % c for c in rgb).encode("ascii") + b"\x00"
    archive = {
        "$version": 100000,
        "$archiver": "NSKeyedArchiver",
        "$top": {"root": UID(1)},
        "$objects": [
            "$null",
            {"NSColorSpace": 1, "NSRGB": text, "$class": UID(2)},
            {"$classes": ["NSColor", "NSObject"], "$classname": "NSColor"},
        ],
    }
    return plistlib.dumps(archive, fmt=plistlib.FMT_BINARY, sort_keys=False)


# Entries as the factories make them (their keys in the factories' order),
# then the note that fires them.
def streamer(feet, rgb, midi_note, size=1):
    return [("eventType", STREAMER), ("eventLength", feet), ("eventSize", size),
            ("eventColor", color_data(rgb)), ("noteOn", midi_note - MIDI_NOTE_OFFSET)]


def punch(holes, midi_note, size=1, rgb=WHITE):
    return [("eventType", PUNCH), ("eventLength", holes), ("eventSize", size),
            ("eventColor", color_data(rgb)), ("noteOn", midi_note - MIDI_NOTE_OFFSET)]


def cue_start(midi_note):
    return [("eventType", CUE_START), ("eventLength", 1), ("eventSize", 1),
            ("eventColor", color_data(WHITE)), ("noteOn", midi_note - MIDI_NOTE_OFFSET)]


def click(midi_note):
    return [("eventType", CLICK), ("eventLength", 1), ("eventSize", 1), ("volume", 0.0),
            ("eventColor", color_data(WHITE)), ("noteOn", midi_note - MIDI_NOTE_OFFSET)]


def beeps(count, seconds, midi_note):
    return [("eventType", BEEPS), ("beepCount", count), ("beepTime", float(seconds)),
            ("beepPunches", False), ("noteOn", midi_note - MIDI_NOTE_OFFSET)]


def mapping():
    c2 = 36
    entries = [
        punch(1, c2 + 0),             # C2: 1-hole punch, regular
        cue_start(c2 + 1),            # C#2: cue start
        punch(2, c2 + 2),             # D2: 2-hole flutter, regular
        click(c2 + 3),                # D#2: click
        punch(3, c2 + 4),             # E2: 3-hole flutter, regular
        punch(1, c2 + 5, size=2),     # F2: 1-hole punch, large
        beeps(3, 2.0, c2 + 6),        # F#2: 3 beeps (2.00 sec)
        punch(2, c2 + 7, size=2),     # G2: 2-hole flutter, large
        punch(3, c2 + 9, size=2),     # A2: 3-hole flutter, large
        punch(1, c2 + 11, size=0),    # B2: 1-hole punch, small
    ]
    colours = [(0, 1, 0), (1, 1, 0), (1, 0, 0), (0, 0.5, 1)]
    white_keys = [0, 2, 4, 5, 7]
    lengths = [2, 3, 4, 6, 8]
    for octave, rgb in enumerate(colours):
        base = c2 + 12 * (octave + 1)
        for key, feet in zip(white_keys, lengths):
            entries.append(streamer(feet, rgb, base + key))
    return entries


class Archive:
    def __init__(self):
        self.objects = ["$null"]
        self.scalars = {}
        self.classes = {}

    def scalar(self, value):
        # Numbers of different kinds are different objects even when equal.
        key = (type(value), value)
        if isinstance(value, bytes):
            self.objects.append(value)
            return UID(len(self.objects) - 1)
        if key not in self.scalars:
            self.objects.append(value)
            self.scalars[key] = UID(len(self.objects) - 1)
        return self.scalars[key]

    def klass(self, *chain):
        if chain[0] not in self.classes:
            self.objects.append({"$classes": list(chain), "$classname": chain[0]})
            self.classes[chain[0]] = UID(len(self.objects) - 1)
        return self.classes[chain[0]]

    def event(self, entry):
        record = {}
        self.objects.append(record)
        uid = UID(len(self.objects) - 1)
        record["NS.keys"] = [self.scalar(key) for key, _ in entry]
        record["NS.objects"] = [self.scalar(value) for _, value in entry]
        record["$class"] = self.klass("TLEvent", "NSObject")
        return uid

    def root(self, entries):
        record = {}
        self.objects.append(record)
        record["NS.objects"] = [self.event(entry) for entry in entries]
        record["$class"] = self.klass("NSMutableArray", "NSArray", "NSObject")
        return {
            "$version": 100000,
            "$archiver": "NSKeyedArchiver",
            "$top": {"root": UID(1)},
            "$objects": self.objects,
        }


def main():
    plist = Archive().root(mapping())
    with open(OUT, "wb") as f:
        f.write(plistlib.dumps(plist, fmt=plistlib.FMT_BINARY, sort_keys=False))


if __name__ == "__main__":
    main()
