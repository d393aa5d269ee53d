#pragma once

// Writes a cue's click as a mono audio file that a recording system can
// place on its timeline: silence, then every click of the cue at its exact
// sample, the file starting a chosen number of seconds before the first
// click (by default moved back to the start of its frame) so that its start
// lines up with picture by timecode.
//
// The file is WAVE, or AIFF when `format` is "AIFF": one channel of linear
// PCM at `sampleRate`, 16 or 24 bit integer or 32 bit float, with nothing
// else in it. It appears whole or not at all: the render writes a temporary
// file beside the target and renames it over the target only once every
// sample is written. A target that is a folder, a device or a pipe is
// refused; a link is written through.
//
// Threads: options, suggestedFilename() and commitExport() on the main
// thread. renderToURL() on any one thread (commitExport() runs it on its
// own); it reads the cue, which other threads may edit meanwhile, and hands
// progress and the finish to the main run loop when one is installed (else
// it calls the handlers itself).

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/UserDefaults.h"
#include "timebase/EMTimecode.h"

namespace tollvane {

class Cue;
class TLAudioController;

class ClickTrackExporter {
public:
    static constexpr double kRenderLimitSeconds = 7200.0;
    static constexpr double kProgressDelaySeconds = 0.3;
    static constexpr const char* kWAVEFormat = "BWV (WAV)";
    static constexpr const char* kAIFFFormat = "AIFF";

    using ProgressHandler = std::function<void(double fraction)>;
    using FinishHandler = std::function<void(bool written)>;
    using WallClock = std::function<double()>;

    // None without a cue. The click comes from `audio` at its click level
    // when the render starts; the controller outlives the exporter. The cue
    // is kept alive while a render reads it.
    static std::shared_ptr<ClickTrackExporter> exporterWithCue(std::shared_ptr<Cue> cue,
                                                               TLAudioController& audio);
    ClickTrackExporter(std::shared_ptr<Cue> cue, TLAudioController& audio);
    ~ClickTrackExporter();
    ClickTrackExporter(const ClickTrackExporter&) = delete;
    ClickTrackExporter& operator=(const ClickTrackExporter&) = delete;

    // --- Options ----------------------------------------------------------------
    double secondsPrerollBeforeFirstClick() const { return secondsPrerollBeforeFirstClick_; }
    void setSecondsPrerollBeforeFirstClick(double seconds) { secondsPrerollBeforeFirstClick_ = seconds; }
    bool extendHeadToAlignWithFrameBoundary() const { return extendHeadToAlignWithFrameBoundary_; }
    void setExtendHeadToAlignWithFrameBoundary(bool extend) { extendHeadToAlignWithFrameBoundary_ = extend; }
    double sampleRate() const { return sampleRate_; }
    void setSampleRate(double sampleRate) { sampleRate_ = sampleRate; }
    int bitDepth() const { return bitDepth_; }
    void setBitDepth(int bitDepth) { bitDepth_ = bitDepth; }
    const std::string& format() const { return format_; }
    void setFormat(std::string format) { format_ = std::move(format); }
    bool writesAIFF() const { return format_ == kAIFFFormat; }

    // The export dialog's options from and to the user defaults
    // ("ExportClickTrackSecondsPrerollBeforeFirstClick", ...), with their
    // defaults when a key is absent.
    void readOptionsFromDefaults(const UserDefaults& defaults);
    void storeOptionsInDefaults(UserDefaults& defaults) const;

    // --- Export -------------------------------------------------------------------
    // The timecode at which the file starts; none when the cue has no timing.
    std::shared_ptr<EMTimecode> _renderStartTimecode() const;
    // "<title>_HHMMSSFF_clix.wav" (also for AIFF).
    std::string suggestedFilename() const;
    // The file types a save panel offers: "aif" and "aiff", or "wav".
    std::vector<std::string> allowedFileTypes() const;

    // Asks "No cue end event" through the alert presenter when the cue has
    // none; answers whether to go on.
    bool confirmCueEnd() const;
    // After the save panel: asks "No cue end event" through the alert
    // presenter when the cue has none, then renders to `path` on a thread of
    // its own. Answers whether the render started. A render still running
    // from an earlier commit is waited for first.
    bool commitExport(const std::string& path);
    // Waits for a render that commitExport() started.
    void waitUntilDone();

    // Renders the file; answers whether it was written.
    bool renderToURL(const std::string& path);

    void setProgressHandler(ProgressHandler handler) { progressHandler_ = std::move(handler); }
    void setFinishHandler(FinishHandler handler) { finishHandler_ = std::move(handler); }
    // Seconds from any fixed point; the steady clock unless a test sets one.
    void setWallClock(WallClock clock) { wallClock_ = std::move(clock); }

private:
    void _showProgress(double fraction);
    void _finishExport(bool written);

    std::shared_ptr<Cue> cue_;
    TLAudioController& audio_;
    double secondsPrerollBeforeFirstClick_ = 2.0;
    bool extendHeadToAlignWithFrameBoundary_ = true;
    double sampleRate_ = 48000.0;
    int bitDepth_ = 24;
    std::string format_ = kWAVEFormat;
    ProgressHandler progressHandler_;
    FinishHandler finishHandler_;
    WallClock wallClock_;
    std::thread renderThread_;
};

}  // namespace tollvane
