#!/usr/bin/env python3
"""Writes the document fixtures in tests/data/documents.

The documents are keyed archives laid out the way the platform's keyed
archiver lays them out, built here from scratch and independently of the
program's own archiver: "$null" at UID 0, the root at UID 1, every object
taking its UID when first met and its members following it depth-first (a
dictionary's keys first, then its values), each class record appended right
after the first object of its class is complete, strings, numbers, booleans
and data as plain values in "$objects" (equal ones written once), and the
scalars an object encodes under its own keys inline in its record.

The positions that the program derives on reading (the bar and timecode of a
beat-locked event, the beats and timecode of a bar-locked one, the beats and
bar of a timecode-locked one) hold the values a reader derives, as a file
saved by any version does: 120 bpm in 4/4 from the sync point on, 25 fps.

Run from anywhere: python3 tests/data/documents/make-documents.py
"""

import os
import plistlib
from plistlib import UID

HERE = os.path.dirname(os.path.abspath(__file__))


# --- A keyed archiver ---------------------------------------------------------


class Obj:
    """An archived object: its class chain and its fields in encoding order.

    A field is (key, Inline(value)) for the scalars encoded with
    encodeInt:/encodeBool:/encodeDouble:/encodeBytes:, or (key, value) for
    encodeObject:, where value is None (nil), a Python scalar (a Foundation
    string, number or data) or another Obj/Arr/Dic."""

    def __init__(self, chain, fields):
        self.chain = chain
        self.fields = fields


class Inline:
    def __init__(self, value):
        self.value = value


class Arr:
    def __init__(self, items, mutable=True):
        self.items = items
        self.mutable = mutable


class Dic:
    def __init__(self, pairs, mutable=False):
        self.pairs = pairs
        self.mutable = mutable


class Archiver:
    def __init__(self):
        self.objects = ["$null"]
        self.scalars = {}
        self.containers = {}
        self.classes = {}

    def ref(self, value):
        if value is None:
            return UID(0)
        if isinstance(value, (bool, int, float, str, bytes)):
            key = (type(value).__name__, value)
            if key not in self.scalars:
                self.scalars[key] = len(self.objects)
                self.objects.append(value)
            return UID(self.scalars[key])
        if id(value) in self.containers:
            return UID(self.containers[id(value)])
        uid = len(self.objects)
        self.containers[id(value)] = uid
        self.objects.append(None)
        record = {}
        if isinstance(value, Arr):
            record["NS.objects"] = [self.ref(item) for item in value.items]
            chain = ["NSMutableArray", "NSArray", "NSObject"] if value.mutable else ["NSArray", "NSObject"]
        elif isinstance(value, Dic):
            record["NS.keys"] = [self.ref(k) for k, _ in value.pairs]
            record["NS.objects"] = [self.ref(v) for _, v in value.pairs]
            chain = (["NSMutableDictionary", "NSDictionary", "NSObject"] if value.mutable
                     else ["NSDictionary", "NSObject"])
        else:
            for key, field in value.fields:
                record[key] = field.value if isinstance(field, Inline) else self.ref(field)
            chain = value.chain
        record["$class"] = UID(self.class_uid(chain))
        self.objects[uid] = record
        return UID(uid)

    def class_uid(self, chain):
        key = tuple(chain)
        if key not in self.classes:
            self.classes[key] = len(self.objects)
            self.objects.append({"$classes": list(chain), "$classname": chain[0]})
        return self.classes[key]


def archive(root):
    archiver = Archiver()
    top = archiver.ref(root)
    plist = {
        "$version": 100000,
        "$archiver": "NSKeyedArchiver",
        "$top": {"root": top},
        "$objects": archiver.objects,
    }
    return plistlib.dumps(plist, fmt=plistlib.FMT_BINARY, sort_keys=False)


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


# --- Model objects ----------------------------------------------------------------

FPS25 = (25, False, False)
BEAT = 0x62656174
BAR = 0x62617220
SMPT = 0x736D7074


def timecode(hh, mm, ss, ff, rate=FPS25, bits=0):
    fps, video_speed, drop = rate
    return Obj(["EMTimecode", "NSObject"], [
        ("EMTimecodeHH", Inline(hh)), ("EMTimecodeMM", Inline(mm)), ("EMTimecodeSS", Inline(ss)),
        ("EMTimecodeFF", Inline(ff)), ("EMTimecodeBits", Inline(bits)),
        ("EMTimecodeFramerate.fps", Inline(fps)), ("EMTimecodeFramerate.videoSpeed", Inline(video_speed)),
        ("EMTimecodeFramerate.dropFrame", Inline(drop)),
    ])


def components(*values):
    return (" ".join(("%g" % v) for v in values) + "\0").encode("ascii")


def color(space, **keys):
    fields = [("NSColorSpace", Inline(space))]
    for key, value in keys.items():
        fields.append((key, value if isinstance(value, Obj) else Inline(value)))
    return Obj(["NSColor", "NSObject"], fields)


def calibrated_rgb(r, g, b, *alpha):
    return color(1, NSRGB=components(r, g, b, *alpha))


def device_rgb(r, g, b, *alpha):
    return color(2, NSRGB=components(r, g, b, *alpha))


def calibrated_white(w, *alpha):
    return color(3, NSWhite=components(w, *alpha))


def device_white(w, *alpha):
    return color(4, NSWhite=components(w, *alpha))


def device_cmyk(c, m, y, k):
    return color(5, NSCMYK=components(c, m, y, k))


def catalog(catalog_name, color_name, fallback):
    return Obj(["NSColor", "NSObject"], [
        ("NSColorSpace", Inline(6)), ("NSCatalogName", catalog_name), ("NSColorName", color_name),
        ("NSColor", fallback)])


def component_based(space_object, *values):
    return Obj(["NSColor", "NSObject"], [
        ("NSColorSpace", Inline(10)), ("NSComponents", Inline(components(*values))),
        ("NSCustomColorSpace", space_object)])


# The cue's timeline: 120 bpm and 4/4 from beat 128 on, sync point at beat 128.
SYNC_SECONDS = 3610  # 01:00:10:00


def derived_timecode(beats, sync_seconds=SYNC_SECONDS, bpm=120.0):
    seconds = sync_seconds + (beats - 128.0) * 60.0 / bpm
    frames = round(seconds * 25)
    return timecode(frames // 90000, frames // 1500 % 60, frames // 25 % 60, frames % 25)


def derived_bar(beats):
    return int((beats - 128.0) // 4) + 1


def event(kind, lock_type, beats, bar, lock_timecode, kind_fields):
    fields = [("lockType", Inline(lock_type)), ("lockBar", bar), ("lockPrerollShiftedBeats", float(beats)),
              ("lockTimecode", lock_timecode)]
    return Obj([kind, "CueEvent", "NSObject"], fields + kind_fields)


def beat_event(kind, beats, kind_fields):
    return event(kind, BEAT, beats, derived_bar(beats), derived_timecode(beats), kind_fields)


def bar_event(kind, bar, kind_fields):
    beats = 128.0 + (bar - 1) * 4
    return event(kind, BAR, beats, bar, derived_timecode(beats), kind_fields)


def cue(cue_id, title, sync, reel_id, tempo, meter, track, countoff, end, start, display_text=None,
        warning_beats=4, offset=0):
    return Obj(["Cue", "NSObject"], [
        ("cueID", Inline(cue_id)),
        ("tempoEvents", Arr(tempo)), ("meterEvents", Arr(meter)), ("trackEvents", Arr(track)),
        ("countoffEvents", Arr(countoff)),
        ("cueEndEvent", end), ("cueStartEvent", start),
        ("syncTimecode", sync),
        ("barNumberOffset", Inline(offset)),
        ("syncPrerollShiftedBeats", 128.0),
        ("title", title),
        ("optionalDisplayText", display_text),
        ("playbackStartTimeStamp", Inline(0.0)),
        ("warningBeats", Inline(warning_beats)),
        ("warningBeatNoteDuration", Inline(65535)),
        ("clickMuteSetting", Inline(0)),
        ("reelID", reel_id),
    ])


def reel(reel_id, title, start, alias_record, last_known_path):
    alias = Obj(["FFAlias", "NSObject"], [("alias", alias_record), ("lastKnownPath", last_known_path)])
    return Obj(["Reel", "NSObject"], [
        ("movieFileAlias", alias), ("startTimecode", start), ("title", title), ("id", Inline(reel_id))])


def sound_cue(title, text, tags, lock, beats, bar, streamer_color_data, feet=4.5, beeps=True, enabled=True):
    return event("CueEventSoundCue", SMPT, beats, bar, lock, [
        ("title", title), ("text", text), ("tags", Arr(tags)), ("enabled", enabled),
        ("streamerEnabled", True), ("streamerColor", streamer_color_data), ("streamerFeet", feet),
        ("beepsEnabled", beeps), ("beepsCount", 3), ("beepsSeconds", 1.0), ("beepOnCuePoint", False),
        ("punchOnEachBeep", True)])


def sort_descriptor(key, ascending):
    return Obj(["NSSortDescriptor", "NSObject"], [
        ("NSKey", key), ("NSAscending", Inline(ascending)), ("NSSelector", "compare:")])


# An alias record as the platform writes one: opaque to this program, kept whole.
def alias_record(path):
    name = os.path.basename(path).encode("utf-8")
    return (b"book\x00\x00\x00\x00mark\x00\x00\x00\x00" + bytes([0x38, 0x00, 0x00, 0x00]) +
            bytes(range(16)) + len(name).to_bytes(4, "little") + name + b"\x00\xff\xfe")


# --- Documents ------------------------------------------------------------------------


def full_document():
    generic_space = Obj(["NSColorSpace", "NSObject"], [("NSID", Inline(7))])

    tempo = beat_event("CueEventTempoChange", 128, [("bpm", Inline(120.0)), ("noteDuration", Inline(6))])
    meter = bar_event("CueEventMeterChange", 1, [
        ("numerator", Inline(4)), ("denominator", Inline(4)), ("clickNoteDuration", Inline(6)),
        ("barPunchEnabled", Inline(True)), ("barPunchColor", device_rgb(1, 0.5, 0)),
        ("barPunchHoles", Inline(5)), ("beatPunchColor", calibrated_white(0.75)),
        ("beatPunchHoles", Inline(2)), ("beatPunchEnabled", Inline(True))])
    streamer = beat_event("CueEventStreamer", 136, [
        ("color", calibrated_rgb(0.2, 0.4, 0.8)), ("feet", Inline(4.5)), ("width", Inline(2.0))])
    punch = beat_event("CueEventPunch", 136, [
        ("color", device_cmyk(0, 1, 1, 0)), ("holes", Inline(4)), ("width", Inline(1.5))])
    bar_number = bar_event("CueEventBarNumberChange", 3, [("barNumber", "12A")])
    click_change = beat_event("CueEventClickChange", 144, [
        ("changeClick", True), ("clickNoteDuration", Inline(8)), ("clickPattern", Arr([2, 1, 1])),
        ("changePunches", True), ("barPunchEnabled", Inline(False)),
        ("barPunchColor", component_based(generic_space, 1, 0.5, 0, 1)), ("barPunchHoles", Inline(3)),
        ("beatPunchNoteDuration", Inline(6)), ("beatPunchColor", device_white(0.25, 0.5)),
        ("beatPunchHoles", Inline(1))])
    late_streamer_lock = timecode(1, 0, 20, 0)
    late_streamer = event("CueEventStreamer", SMPT, 148.0, derived_bar(148.0), late_streamer_lock, [
        ("color", catalog("System", "selectedControlColor", calibrated_rgb(0.1, 0.3, 0.9))),
        ("feet", Inline(3.0)), ("width", Inline(1.0))])
    countoff = beat_event("CueEventCountoff", 128, [
        ("countoffBeats", 2), ("countoffNoteDuration", 6), ("audioClick", True), ("punchClick", False),
        ("streamerIntoFirstBeat", True), ("streamerIntoLockTime", False),
        ("streamerColorIntoFirstBeat", calibrated_rgb(1, 1, 0)),
        ("streamerColorIntoLockTime", component_based(generic_space, 0, 1, 0, 1))])
    cue_end = beat_event("CueEventCueEnd", 160, [
        ("streamerColor", device_white(0.9)), ("autoFollow", True), ("autoFollowCueNumber", "1M2")])
    music_in = beat_event("CueEventMusicIn", 132, [])

    opening = cue(101, "1M1 Opening", timecode(1, 0, 10, 0), 1001, [tempo], [meter],
                  [streamer, punch, bar_number, click_change, late_streamer], [countoff], cue_end, music_in,
                  offset=2)
    chase_tempo = event("CueEventTempoChange", BEAT, 128.0, 1, timecode(1, 1, 0, 0),
                        [("bpm", Inline(90.0)), ("noteDuration", Inline(6))])
    chase = cue(102, "1M2 Chase", timecode(1, 1, 0, 0), 999, [chase_tempo], [], [], [], None, None,
                display_text="Chase!", warning_beats=2)

    reels = [
        reel(1001, "Reel 1", timecode(1, 0, 0, 0), alias_record("/Volumes/Media/Reel 1.mov"),
             "/Volumes/Media/Reel 1.mov"),
        reel(1002, "Reel 2 \u2013 Final", timecode(2, 0, 0, 0), alias_record("/Volumes/Media/Reel 2.mov"),
             "/Volumes/Media/Reel 2.mov"),
    ]

    # The ADR/Foley cue runs at 60 bpm in 4/4 after the 64 s of pre-roll,
    # and places a timecode at that many seconds from the sequence's start.
    def adr_position(hh, mm, ss):
        beats = 64.0 + hh * 3600 + mm * 60 + ss
        return beats, int((beats - 128.0) // 4) + 1

    streamer_data = archive(calibrated_rgb(0.9, 0.1, 0.1))
    beats1, bar1 = adr_position(1, 0, 30)
    beats2, bar2 = adr_position(1, 0, 45)
    adr = [
        sound_cue("101", "Where were you?", ["dx", "loop"], timecode(1, 0, 30, 0), beats1, bar1, streamer_data),
        sound_cue("FX7", "Door slam", ["fx"], timecode(1, 0, 45, 0), beats2, bar2,
                  archive(device_rgb(0, 0.5, 1)), feet=3.0, beeps=False, enabled=False),
    ]

    options = Dic([
        ("cueSortDescriptors", Arr([sort_descriptor("syncTimecodeString", True)], mutable=False)),
        ("reelSortDescriptors", Arr([sort_descriptor("startTimecodeString", False)], mutable=False)),
        ("selectedCueID", 102),
    ])
    future = Obj(["TLFutureThing", "TLThing", "NSObject"], [
        ("$$version", Inline(3)), ("name", "kept as read"), ("values", Arr([1, 2.5, "three"], mutable=False))])

    # The platform writes a dictionary's keys in no particular order.
    root = Dic([
        ("cues", Arr([opening, chase])),
        ("documentViewType", 0),
        ("reels", Arr(reels)),
        ("minVersion", "218"),
        ("zFutureSetting", Dic([("level", 11), ("label", "louder"), ("thing", future)])),
        ("documentWindowOptions", options),
        ("projectFramerate", 3),
        ("adrFoleyEvents", Arr(adr)),
        ("absoluteMinVersion", "0"),
        ("cueSelectionMode", 1),
        ("documentWindowFrame", "{{120, 340}, {1180, 720}}"),
        ("reelSelectionMode", 2),
    ], mutable=True)
    return archive(root)


def old_adr_foley_document():
    # Saved before the ADR/Foley list existed: its lines were cues of their own.
    def line(cue_id, title, sync, text):
        tempo = event("CueEventTempoChange", BEAT, 128.0, 1, sync, [("bpm", Inline(120.0)), ("noteDuration", Inline(6))])
        return cue(cue_id, title, sync, 0, [tempo], [], [], [], None, None, display_text=text)

    root = Dic([
        ("minVersion", "216"),
        ("reels", Arr([])),
        ("cues", Arr([line(201, "ADR 1", timecode(1, 2, 3, 4), "Get down!"),
                      line(202, "ADR 2", timecode(1, 5, 0, 0), None)])),
        ("reelSelectionMode", 1),
        ("cueSelectionMode", 0),
        ("projectFramerate", 3),
        ("documentViewType", 1),
    ], mutable=True)
    return archive(root)


def main():
    write("full.tollvane", full_document())
    write("old-adrfoley.tollvane", old_adr_foley_document())


if __name__ == "__main__":
    main()
