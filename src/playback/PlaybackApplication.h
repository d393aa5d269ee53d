#pragma once

// What the real-time core asks of the application: the streamer windows
// (streamers, punches, the cue-start flash), the audio controller's live
// beeps and clicks, the cue controller's overlay text, the movie's mute,
// cue selection in a document, the MIDI controller's rehearsal switch and
// the front document's MTC status text. The application delegate installs
// its own; with nothing installed the calls that only the application can
// carry out do nothing, and the rest do what the program does (see each).
// Tests install one that records every call.
//
// Threads: every call is made on the main thread.

#include <cstdint>
#include <memory>
#include <string>

namespace tollvane {

class EMTimecode;

class PlaybackApplication {
public:
    virtual ~PlaybackApplication() = default;

    // A streamer in every streamer window, `skippingSeconds` already run.
    virtual void addStreamerWithRed(float /*red*/, float /*green*/, float /*blue*/, double /*feet*/,
                                    int /*size*/, double /*skippingSeconds*/) {}
    // A punch (flutter when holes > 1) now, or `afterDelay` seconds from now.
    virtual void addPunchWithHoles(int /*holes*/, float /*red*/, float /*green*/, float /*blue*/,
                                   int /*size*/) {}
    virtual void addPunchWithHoles(int /*holes*/, float /*red*/, float /*green*/, float /*blue*/,
                                   int /*size*/, double /*afterDelay*/) {}
    // Drops every punch not yet shown.
    virtual void cancelAllPunches() {}
    // A run of `count` warning beeps over `time` seconds, each with a punch
    // when asked.
    virtual void addBeepsWithTime(double /*time*/, int /*count*/, bool /*punches*/) {}
    // One live click.
    virtual void addClickWithVolume(double /*volume*/) {}
    // The cue-start flash in every streamer view.
    virtual void setCueStart() {}
    // The overlay text: by default the shared cue controller's displayText.
    virtual void setDisplayText(const std::string& text);
    // Mutes or unmutes the reel's movie audio (the movie player's).
    virtual void setMovieMuted(bool /*muted*/) {}
    // Selects the cue matching `cueNumber` in the document with that handle:
    // by default Document::selectCueMatching on the live document; nothing
    // when the document is gone.
    virtual void selectCueMatching(uint32_t documentHandle, const std::string& cueNumber);
    // The MIDI controller stops (or resumes) following MTC while the
    // transport rehearses.
    virtual void setMTCOfflineForRehearsal(bool /*offline*/) {}
    // Whether the MIDI controller follows MTC ("Online"); true by default.
    virtual bool MTCOnline() const { return true; }
    // Every timecode the MIDI controller accepts, for the streamer views'
    // timecode display and the selection of reels and cues by timecode.
    virtual void setLastReceivedTimecode(const EMTimecode& /*timecode*/) {}
    // Shows or hides the free-time clock in every streamer window (the
    // sustain pedal, controller 64).
    virtual void setFreeTimeClockVisibleForAllWindows(bool /*visible*/) {}
    // The front document's MTC status text ("Playing from ...", "Waiting
    // for MTC...").
    virtual void setMTCStatus(const std::string& /*status*/) {}

    // The installed application (a default one until something is installed).
    static PlaybackApplication& current();
    // Installs one (null restores the default); answers the previous one.
    static std::shared_ptr<PlaybackApplication> install(std::shared_ptr<PlaybackApplication> application);
};

}  // namespace tollvane
