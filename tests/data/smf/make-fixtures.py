#!/usr/bin/python3
"""Writes the Standard MIDI Files in tests/data/smf.

The files come from mido (Debian package python3-mido), a MIDI library that
shares no code with ours, so the reader is checked against another writer's
idea of the format. Where mido cannot express a form (the F7 escape, a
division in SMPTE frames, a file that is cut short) the bytes are spelled out
here by hand. The tests read only the files; they never need mido.

What each file holds is listed beside the code that writes it; the tests
expect exactly that.

Run from anywhere with the system Python: /usr/bin/python3 tests/data/smf/make-fixtures.py
"""

import os
import struct

import mido
from mido import Message, MetaMessage, MidiFile, MidiTrack

HERE = os.path.dirname(os.path.abspath(__file__))


def track_with(events, end):
    """A track from (absolute tick, message) pairs, ending at tick `end`."""
    track = MidiTrack()
    now = 0
    for tick, message in events:
        assert tick >= now, "events must come in time order"
        track.append(message.copy(time=tick - now))
        now = tick
    assert end >= now
    track.append(MetaMessage("end_of_track", time=end - now))
    return track


def save(midi, name):
    midi.save(os.path.join(HERE, name))


def format0():
    """format0.mid: format 0, 96 ticks per quarter, one track.

    beat 0    track name "Format zero"; tempo 600000 us (100 bpm);
              time signature 3/4 (clocks 24, 32nds 8); program change ch 1 -> 5;
              note on 60 vel 100
    beat 1    note 60 off as a note-on of velocity 0; note on 64 vel 90
              (both note-ons share the status byte: running status)
    beat 2    note-off 64 with release velocity 64; controller 7 = 99 (ch 1);
              pitch bend ch 1, value +256
    beat 3    tempo 400000 us (150 bpm); note on 67 vel 80 on channel 2,
              never released
    beat 4    end of track
    """
    q = 96
    events = [
        (0, MetaMessage("track_name", name="Format zero")),
        (0, MetaMessage("set_tempo", tempo=600000)),
        (0, MetaMessage("time_signature", numerator=3, denominator=4, clocks_per_click=24,
                        notated_32nd_notes_per_beat=8)),
        (0, Message("program_change", channel=0, program=5)),
        (0, Message("note_on", channel=0, note=60, velocity=100)),
        (q, Message("note_on", channel=0, note=60, velocity=0)),
        (q, Message("note_on", channel=0, note=64, velocity=90)),
        (2 * q, Message("note_off", channel=0, note=64, velocity=64)),
        (2 * q, Message("control_change", channel=0, control=7, value=99)),
        (2 * q, Message("pitchwheel", channel=0, pitch=256)),
        (3 * q, MetaMessage("set_tempo", tempo=400000)),
        (3 * q, Message("note_on", channel=1, note=67, velocity=80)),
    ]
    midi = MidiFile(type=0, ticks_per_beat=q)
    midi.tracks.append(track_with(events, 4 * q))
    save(midi, "format0.mid")


def format1():
    """format1.mid: format 1, 480 ticks per quarter, three tracks.

    Conductor (becomes the tempo track):
      beat 0     track name "Conductor"; SMPTE offset 1:02:03:04.50 at 24 fps
                 (data 01 02 03 04 32); tempo 500000 us (120 bpm); 4/4;
                 marker "Start"
      beat 8     (bar 3) tempo 666667 us (89.999955 bpm)
      beat 16    (bar 5) time signature 7/8 (clocks 12, 32nds 8)
      beat 17.5  tempo 1000000 us (60 bpm), in the middle of the 7/8 bar
      beat 19.5  (bar 6) time signature 6/8 (clocks 36, 32nds 8); marker "Six eight"
      beat 25.5  end of track
    Track "Streamers":
      beat 0     track name; text "first text"; note 60 vel 100 on ch 10, off at beat 1
      beat 0.25  text "second text"
      beat 4     note 62 vel 70 (A); beat 4.5 note 62 vel 71 (B);
                 beat 5 note-off 62; beat 6 note-off 62
                 (first in, first out: A lasts 1 beat, B 1.5 beats)
      beat 7     end of track
    Track "Punches":
      beat 0     track name; cue point "Cue one"
      beat 2     sysex F0 7E 7F 09 01 F7; note 48 vel 127
      beat 2.5   note 48 off as velocity-0 note-on
      beat 3     lyric "la"; key signature E minor (meta 0x59, data 01 01)
      beat 3.25  channel aftertouch ch 1 = 33; poly aftertouch ch 1 note 48 = 20
      beat 4     end of track
    """
    q = 480
    conductor = [
        (0, MetaMessage("track_name", name="Conductor")),
        (0, MetaMessage("smpte_offset", frame_rate=24, hours=1, minutes=2, seconds=3, frames=4,
                        sub_frames=50)),
        (0, MetaMessage("set_tempo", tempo=500000)),
        (0, MetaMessage("time_signature", numerator=4, denominator=4, clocks_per_click=24,
                        notated_32nd_notes_per_beat=8)),
        (0, MetaMessage("marker", text="Start")),
        (8 * q, MetaMessage("set_tempo", tempo=666667)),
        (16 * q, MetaMessage("time_signature", numerator=7, denominator=8, clocks_per_click=12,
                             notated_32nd_notes_per_beat=8)),
        (int(17.5 * q), MetaMessage("set_tempo", tempo=1000000)),
        (int(19.5 * q), MetaMessage("time_signature", numerator=6, denominator=8, clocks_per_click=36,
                                    notated_32nd_notes_per_beat=8)),
        (int(19.5 * q), MetaMessage("marker", text="Six eight")),
    ]
    streamers = [
        (0, MetaMessage("track_name", name="Streamers")),
        (0, MetaMessage("text", text="first text")),
        (0, Message("note_on", channel=9, note=60, velocity=100)),
        (q // 4, MetaMessage("text", text="second text")),
        (q, Message("note_off", channel=9, note=60, velocity=0)),
        (4 * q, Message("note_on", channel=9, note=62, velocity=70)),
        (int(4.5 * q), Message("note_on", channel=9, note=62, velocity=71)),
        (5 * q, Message("note_off", channel=9, note=62, velocity=0)),
        (6 * q, Message("note_off", channel=9, note=62, velocity=0)),
    ]
    punches = [
        (0, MetaMessage("track_name", name="Punches")),
        (0, MetaMessage("cue_marker", text="Cue one")),
        (2 * q, Message("sysex", data=[0x7E, 0x7F, 0x09, 0x01])),
        (2 * q, Message("note_on", channel=0, note=48, velocity=127)),
        (int(2.5 * q), Message("note_on", channel=0, note=48, velocity=0)),
        (3 * q, MetaMessage("lyrics", text="la")),
        (3 * q, MetaMessage("key_signature", key="Em")),
        (int(3.25 * q), Message("aftertouch", channel=0, value=33)),
        (int(3.25 * q), Message("polytouch", channel=0, note=48, value=20)),
    ]
    midi = MidiFile(type=1, ticks_per_beat=q)
    midi.tracks.append(track_with(conductor, int(25.5 * q)))
    midi.tracks.append(track_with(streamers, 7 * q))
    midi.tracks.append(track_with(punches, 4 * q))
    save(midi, "format1.mid")


def format2():
    """format2.mid: format 2 (independent patterns), which we refuse."""
    midi = MidiFile(type=2, ticks_per_beat=96)
    midi.tracks.append(track_with([(0, Message("note_on", note=60, velocity=1))], 96))
    midi.tracks.append(track_with([(0, Message("note_on", note=62, velocity=1))], 96))
    save(midi, "format2.mid")


def vlq(value):
    out = [value & 0x7F]
    value >>= 7
    while value:
        out.insert(0, 0x80 | (value & 0x7F))
        value >>= 7
    return bytes(out)


def chunk(kind, data):
    return kind + struct.pack(">L", len(data)) + data


def header(fmt, tracks, division):
    return chunk(b"MThd", struct.pack(">HHh", fmt, tracks, division))


def sysex_forms():
    """sysex.mid: format 1, 120 ticks per quarter, spelled out by hand.

    Conductor: tempo 500000 us at 0, end at beat 1.
    Track 1:
      beat 0     F0 43 12 00 F7 as one sysex event (F0 form, length 4)
      beat 1     F0 43 12 without its end (length 3), continued at
      beat 1.5   by the F7 packet 00 F7 (length 2)
      beat 2     F7 escape carrying F3 01 (song select), length 2
      beat 2     an unknown chunk "XFIH" sits between the two track chunks
      beat 3     end of track
    """
    conductor = vlq(0) + b"\xFF\x51\x03\x07\xA1\x20" + vlq(120) + b"\xFF\x2F\x00"
    track = (vlq(0) + b"\xF0" + vlq(4) + b"\x43\x12\x00\xF7" +
             vlq(120) + b"\xF0" + vlq(3) + b"\x43\x12\x00" +
             vlq(60) + b"\xF7" + vlq(2) + b"\x00\xF7" +
             vlq(60) + b"\xF7" + vlq(2) + b"\xF3\x01" +
             vlq(120) + b"\xFF\x2F\x00")
    data = (header(1, 2, 120) + chunk(b"MTrk", conductor) + chunk(b"XFIH", b"\x01\x02\x03") +
            chunk(b"MTrk", track))
    with open(os.path.join(HERE, "sysex.mid"), "wb") as out:
        out.write(data)


def smpte_division():
    """smpte-division.mid: division of 25 frames a second, 40 ticks a frame (0xE728)."""
    track = vlq(0) + b"\x90\x3C\x40" + vlq(40) + b"\x80\x3C\x00" + vlq(0) + b"\xFF\x2F\x00"
    data = header(0, 1, -6360) + chunk(b"MTrk", track)
    with open(os.path.join(HERE, "smpte-division.mid"), "wb") as out:
        out.write(data)


def main():
    print("mido", mido.__version__)
    format0()
    format1()
    format2()
    sysex_forms()
    smpte_division()


if __name__ == "__main__":
    main()
