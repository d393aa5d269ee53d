#!/usr/bin/python3
"""Writes the Standard MIDI Files in tests/data/streamers.

The files come from mido (Debian package python3-mido), a MIDI library that
shares no code with ours. The tests read only the files; they never need mido.

Run from anywhere with the system Python:
/usr/bin/python3 tests/data/streamers/make-fixtures.py
"""

import os

from mido import Message, MetaMessage, MidiFile, MidiTrack, bpm2tempo

HERE = os.path.dirname(os.path.abspath(__file__))
TPQ = 480


def track_with(names, events, end_beats):
    """A track with one track-name meta event per entry of `names`, then the
    (beats, message) pairs, ending at `end_beats`."""
    track = MidiTrack()
    for name in names:
        track.append(MetaMessage("track_name", name=name, time=0))
    now = 0
    for beats, message in sorted(events, key=lambda pair: pair[0]):
        tick = round(beats * TPQ)
        assert tick >= now
        track.append(message.copy(time=tick - now))
        now = tick
    track.append(MetaMessage("end_of_track", time=round(end_beats * TPQ) - now))
    return track


def notes(*pairs, length=0.25):
    """Note-on/off pairs for (beats, note number) pairs."""
    events = []
    for beats, number in pairs:
        events.append((beats, Message("note_on", note=number, velocity=100)))
        events.append((beats + length, Message("note_off", note=number, velocity=0)))
    return events


def conductor(*tempos):
    """A conductor track from (beats, bpm) pairs, in 4/4."""
    events = [(0, MetaMessage("time_signature", numerator=4, denominator=4))]
    events += [(beats, MetaMessage("set_tempo", tempo=bpm2tempo(bpm))) for beats, bpm in tempos]
    return track_with([], events, 32)


def save(name, tracks):
    midi = MidiFile(type=1, ticks_per_beat=TPQ)
    midi.tracks.extend(tracks)
    midi.save(os.path.join(HERE, name))


# shifts.mid: 120 bpm from beat 0, 60 bpm from beat 8 (4 s).
#   track 0 "Click": note 72 at beat 12 (not the streamers track).
#   track 1 "Streamers": one note of each kind, each at its own beat:
#     punches 48 at 10, 50 at 11, 52 at 8.1 (4.1 s, moves back over the tempo
#     change), 53 at 13; unshifted 49 at 14, 51 at 15, 54 at 16, 59 at 17,
#     47 at 18, 96 at 19; streamers 60 at 20, 71 at 21, 72 at 22, 83 at 23,
#     84 at 24, 95 at 25. A text event at beat 9 stays.
#     6 streamers and 4 punches, out of 16 notes.
#   track 2 "Streamers" again: note 60 at beat 20 (only the first such track
#     is processed).
save("shifts.mid", [
    conductor((0, 120), (8, 60)),
    track_with(["Click"], notes((12, 72)), 32),
    track_with(["Streamers"],
               notes((10, 48), (11, 50), (8.1, 52), (13, 53), (14, 49), (15, 51), (16, 54), (17, 59),
                     (18, 47), (19, 96), (20, 60), (21, 71), (22, 72), (23, 83), (24, 84), (25, 95))
               + [(9, MetaMessage("text", text="hits"))], 32),
    track_with(["Streamers"], notes((20, 60)), 32),
])

# early.mid: 120 bpm throughout.
#   track 0 "streamers": punch 48 at beat 0 (not shifted, no warning);
#     streamer 72 at beat 2 (1 s; 2.67 s earlier would be before 0: stays,
#     with the warning); streamer 60 at beat 4 (2 s: moves to 0 exactly);
#     punch 53 at beat 0.2 (0.1 s: stays, with the warning).
#     2 streamers and 2 punches, out of 4 notes.
save("early.mid", [
    conductor((0, 120)),
    track_with(["streamers"], notes((0, 48), (2, 72), (4, 60), (0.2, 53)), 8),
])

# split-name.mid: 120 bpm. The track's name comes in two track-name events,
# "  STREAM" and "ers ", which together and trimmed read "STREAMers".
#   track 0 "Streamers Old": note 60 at beat 8 (a name that only begins so).
#   track 1 "  STREAM" + "ers ": punch 50 at beat 8.
#     0 streamers and 1 punch, out of 1 note.
save("split-name.mid", [
    conductor((0, 120)),
    track_with(["Streamers Old"], notes((8, 60)), 16),
    track_with(["  STREAM", "ers "], notes((8, 50)), 16),
])

# one-streamer.mid: 120 bpm; track "sTrEaMeRs" with streamer 84 at beat 16.
#   1 streamer and 0 punches, out of 1 note.
save("one-streamer.mid", [
    conductor((0, 120)),
    track_with(["sTrEaMeRs"], notes((16, 84)), 20),
])

# no-streamers.mid: 120 bpm; tracks "Punches" and "Streamer" with notes, and
# an unnamed track: none is the streamers track.
save("no-streamers.mid", [
    conductor((0, 120)),
    track_with(["Punches"], notes((8, 48)), 16),
    track_with(["Streamer"], notes((8, 60)), 16),
    track_with([], notes((8, 72)), 16),
])

# not-midi.mid: text, not a Standard MIDI File.
with open(os.path.join(HERE, "not-midi.mid"), "w") as f:
    f.write("This is not a MIDI file.\n")
