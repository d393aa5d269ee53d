#!/usr/bin/python3
"""Writes the Standard MIDI Files in tests/data/smf-import.

The files come from mido (Debian package python3-mido), a MIDI library that
shares no code with ours. The tests read only the files; they never need mido.

Run from anywhere with the system Python:
/usr/bin/python3 tests/data/smf-import/make-fixtures.py
"""

import os

from mido import Message, MetaMessage, MidiFile, MidiTrack

HERE = os.path.dirname(os.path.abspath(__file__))
TPQ = 480


def track_with(name, events, end_beats):
    """A track from (beats, message) pairs, ending at `end_beats`."""
    track = MidiTrack()
    if name is not None:
        track.append(MetaMessage("track_name", name=name, time=0))
    now = 0
    for beats, message in sorted(events, key=lambda pair: pair[0]):
        tick = round(beats * TPQ)
        assert tick >= now
        message.time = tick - now
        track.append(message)
        now = tick
    track.append(MetaMessage("end_of_track", time=round(end_beats * TPQ) - now))
    return track


def note(beats, number, velocity=100, length=0.25):
    return [(beats, Message("note_on", note=number, velocity=velocity)),
            (beats + length, Message("note_off", note=number, velocity=0))]


def save(name, tracks):
    midi = MidiFile(type=1, ticks_per_beat=TPQ)
    midi.tracks.extend(tracks)
    midi.save(os.path.join(HERE, name))


# drop-two-bars.mid: 4/4 at 120 bpm with two bars of pre-roll.
#   conductor: 120 bpm and 4/4 (24 clocks a click) at 0; 96 bpm at beat 4;
#              3/4 with 48 clocks a click at beat 8 (bar 3); 120.000 bpm at
#              beat 16 and 120.005 bpm at beat 20 (micros 500000 and 499979);
#              an SMPTE offset of 1:00:00:00 and 40 hundredths at 0.
#   track 0 "Text" (comment "hits" / "second"): note 60 at beat 8 (not selected by name).
#   track 1 "punches": note 60 at beats 7.9, 7.96, 8 and 12; note 60 with
#              velocity 0 at beat 9; the sysex F0 7D 01 F7 at beat 10.
#   track 2 "STREAMERS": note 72 at beats 12 and 24; note 74 (unmapped) at
#              beat 13. The latest event is that last note, at beat 24.
conductor = track_with(None, [
    (0, MetaMessage("set_tempo", tempo=500000)),
    (0, MetaMessage("time_signature", numerator=4, denominator=4, clocks_per_click=24)),
    (0, MetaMessage("smpte_offset", frame_rate=25, hours=1, minutes=0, seconds=0, frames=0,
                    sub_frames=40)),
    (4, MetaMessage("set_tempo", tempo=625000)),
    (8, MetaMessage("time_signature", numerator=3, denominator=4, clocks_per_click=48)),
    (16, MetaMessage("set_tempo", tempo=500000)),
    (20, MetaMessage("set_tempo", tempo=499979)),
], 24)
text = track_with("Text", [(0, MetaMessage("text", text="hits")),
                           (0, MetaMessage("text", text="second"))] + note(8, 60), 24)
punches = track_with("punches",
                     note(7.9, 60, length=0.02) + note(7.96, 60, length=0.02) + note(8, 60) + note(12, 60) +
                     [(9, Message("note_on", note=60, velocity=0)),
                      (10, Message("sysex", data=[0x7D, 0x01]))], 24)
streamers = track_with("STREAMERS", note(12, 72) + note(13, 74) + note(24, 72), 24.25)
save("drop-two-bars.mid", [conductor, text, punches, streamers])

# plain.mid: 6/8 at 90 bpm (clocks 36), no pre-roll, no SMPTE offset; track 0
# "Punches" with note 60 at beat 3.
conductor = track_with(None, [
    (0, MetaMessage("set_tempo", tempo=666667)),
    (0, MetaMessage("time_signature", numerator=6, denominator=8, clocks_per_click=36)),
], 6)
save("plain.mid", [conductor, track_with("Punches", note(3, 60), 6)])
