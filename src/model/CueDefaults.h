#pragma once

// The user defaults the cue model reads (count-off, cue-end and sound-cue
// streamers, count-off beeps, latency compensation), with the values a new
// installation starts from. The application writes them into the store on
// first launch and by version group; programs without that start-up (the
// command line, tests) register them so that cues compile as they would in
// the application.
//
// Threads: main thread.

namespace tollvane {

class UserDefaults;

struct CueDefaults {
    static void registerDefaults(UserDefaults& defaults);
};

}  // namespace tollvane
