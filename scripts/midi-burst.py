#!/usr/bin/env python3
"""Floods a JACK MIDI input with channel messages, for scripts/soak.

Usage: scripts/midi-burst.py [--to PORT] [--rate N] [--seconds S] [--mapped-notes] [--probe]

Opens a JACK client "tollvane-burst" on $JACK_DEFAULT_SERVER (never starts a
server) with one MIDI output, connects it to PORT (a full port name, or a
port's short name such as Tollvane), and writes N messages a second (default
10000) for S seconds (default 10), spread evenly over each period: note on and
off, control change and pitch bend over all sixteen channels, never system
messages, so timecode running at the same time is left alone. The notes are
96 to 111, which the shipped event mapping leaves free: every note on is
looked up in the mapping and fires nothing, so what a cue fires meanwhile can
still be counted. --mapped-notes plays notes of the shipped mapping instead
(36 to 81 in steps of 3: punches, a click, beeps and streamers). Prints how
many were written and how many the port buffer refused. --probe only checks
that the server accepts clients (exit 0) and writes nothing.

Only libjack (through ctypes) is needed. The process callback runs Python, so
this is a load generator, not a real-time client: late periods are counted
and reported, not hidden.
"""

import argparse
import ctypes
import sys
import time

JACK_NO_START_SERVER = 0x01
JACK_PORT_IS_INPUT = 0x1
JACK_PORT_IS_OUTPUT = 0x2
MIDI_TYPE = b"8 bit raw midi"
# What one period may carry after a long stall; what is owed beyond it is
# dropped, not carried into a flood later.
MAX_PER_PERIOD = 1000

ProcessCallback = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_uint32, ctypes.c_void_p)
XrunCallback = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p)


def load_jack():
    jack = ctypes.CDLL("libjack.so.0")
    # jack_client_open is variadic; without JackServerName it takes no more
    # arguments, and libjack reads $JACK_DEFAULT_SERVER itself.
    jack.jack_client_open.restype = ctypes.c_void_p
    jack.jack_client_open.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.POINTER(ctypes.c_int)]
    jack.jack_client_close.argtypes = [ctypes.c_void_p]
    jack.jack_port_register.restype = ctypes.c_void_p
    jack.jack_port_register.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p,
                                        ctypes.c_ulong, ctypes.c_ulong]
    jack.jack_port_name.restype = ctypes.c_char_p
    jack.jack_port_name.argtypes = [ctypes.c_void_p]
    jack.jack_set_process_callback.argtypes = [ctypes.c_void_p, ProcessCallback, ctypes.c_void_p]
    jack.jack_set_xrun_callback.argtypes = [ctypes.c_void_p, XrunCallback, ctypes.c_void_p]
    jack.jack_activate.argtypes = [ctypes.c_void_p]
    jack.jack_deactivate.argtypes = [ctypes.c_void_p]
    jack.jack_get_sample_rate.restype = ctypes.c_uint32
    jack.jack_get_sample_rate.argtypes = [ctypes.c_void_p]
    jack.jack_get_ports.restype = ctypes.POINTER(ctypes.c_char_p)
    jack.jack_get_ports.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p, ctypes.c_ulong]
    jack.jack_free.argtypes = [ctypes.c_void_p]
    jack.jack_connect.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_char_p]
    jack.jack_port_get_buffer.restype = ctypes.c_void_p
    jack.jack_port_get_buffer.argtypes = [ctypes.c_void_p, ctypes.c_uint32]
    jack.jack_midi_clear_buffer.argtypes = [ctypes.c_void_p]
    jack.jack_midi_event_write.restype = ctypes.c_int
    jack.jack_midi_event_write.argtypes = [ctypes.c_void_p, ctypes.c_uint32,
                                           ctypes.POINTER(ctypes.c_ubyte), ctypes.c_size_t]
    return jack


def midi_inputs(jack, client):
    found = jack.jack_get_ports(client, None, MIDI_TYPE, JACK_PORT_IS_INPUT)
    names = []
    if found:
        i = 0
        while found[i] is not None:
            names.append(found[i].decode())
            i += 1
        jack.jack_free(ctypes.cast(found, ctypes.c_void_p))
    return names


def messages(mapped_notes):
    """A cycle of 3-byte channel messages, as ctypes buffers made once."""
    made = []
    for channel in range(16):
        note = 36 + channel * 3 if mapped_notes else 96 + channel
        for status, data1, data2 in ((0x90, note, 100), (0x80, note, 0), (0xB0, 7, channel * 8),
                                     (0xE0, 0, 64 + channel)):
            made.append((ctypes.c_ubyte * 3)(status | channel, data1, data2))
    return made


def main():
    parser = argparse.ArgumentParser(description="Floods a JACK MIDI input with channel messages.")
    parser.add_argument("--to", default="Tollvane")
    parser.add_argument("--rate", type=float, default=10000.0)
    parser.add_argument("--seconds", type=float, default=10.0)
    parser.add_argument("--mapped-notes", action="store_true")
    parser.add_argument("--probe", action="store_true")
    options = parser.parse_args()

    jack = load_jack()
    status = ctypes.c_int(0)
    client = jack.jack_client_open(b"tollvane-burst", JACK_NO_START_SERVER, ctypes.byref(status))
    if not client:
        print(f"midi-burst: no JACK server accepts clients (status 0x{status.value:x})", file=sys.stderr)
        return 1
    if options.probe:
        jack.jack_client_close(client)
        return 0

    port = jack.jack_port_register(client, b"out", MIDI_TYPE, JACK_PORT_IS_OUTPUT, 0)
    rate = jack.jack_get_sample_rate(client)
    table = messages(options.mapped_notes)
    state = {"start": None, "due": 0, "next": 0, "written": 0, "refused": 0, "cycles": 0, "xruns": 0,
             "run": True}

    def process(frames, _):
        buffer = jack.jack_port_get_buffer(port, frames)
        jack.jack_midi_clear_buffer(buffer)
        state["cycles"] += 1
        if not state["run"]:
            return 0
        # Owed by the clock rather than by the frames of the periods run: a
        # server that is not real-time skips periods on a busy machine, and
        # the rate asked for is a rate in time.
        now = time.monotonic()
        if state["start"] is None:
            state["start"] = now
        owed = int((now - state["start"]) * options.rate) + int(options.rate * frames / rate)
        count = min(owed - state["due"], MAX_PER_PERIOD)
        state["due"] = owed
        if count <= 0:
            return 0
        for i in range(count):
            message = table[state["next"] % len(table)]
            state["next"] += 1
            if jack.jack_midi_event_write(buffer, i * frames // count, message, 3) == 0:
                state["written"] += 1
            else:
                state["refused"] += 1
        return 0

    def xrun(_):
        state["xruns"] += 1
        return 0

    # Kept referenced for as long as the client lives.
    process_callback = ProcessCallback(process)
    xrun_callback = XrunCallback(xrun)
    jack.jack_set_process_callback(client, process_callback, None)
    jack.jack_set_xrun_callback(client, xrun_callback, None)
    if jack.jack_activate(client) != 0:
        print("midi-burst: could not activate the client", file=sys.stderr)
        jack.jack_client_close(client)
        return 1

    inputs = midi_inputs(jack, client)
    target = options.to if options.to in inputs else next(
        (name for name in inputs if name.split(":", 1)[-1] == options.to), None)
    if target is None or jack.jack_connect(client, jack.jack_port_name(port), target.encode()) != 0:
        print(f"midi-burst: no MIDI input '{options.to}' to connect to (inputs: {', '.join(inputs) or 'none'})",
              file=sys.stderr)
        jack.jack_client_close(client)
        return 1

    time.sleep(options.seconds)
    state["run"] = False
    elapsed = time.monotonic() - (state["start"] or time.monotonic())
    time.sleep(0.1)
    jack.jack_deactivate(client)
    jack.jack_client_close(client)
    print(f"midi-burst: wrote {state['written']} messages to {target} in {elapsed:.1f} s "
          f"({state['written'] / elapsed:.0f} a second), {state['refused']} refused by the port buffer, "
          f"{state['cycles']} periods run, {state['xruns']} xruns")
    return 0


if __name__ == "__main__":
    sys.exit(main())
