#pragma once

// The transport bar's logic, without widgets: the three current-time texts
// refreshed 25 times a second, the button images and the online title, the
// rehearse buttons, locating by typing a bar/beat or a timecode, the pickup
// label, and proxies of the transport's settings for the bar's controls. The
// window lays the bar out and forwards to this.
//
// Observed keys (announced, not stored): "transportControls",
// "canChangeTransportSettings", "pickupLabel", "barBeatFieldEditing",
// "timecodeFieldEditing" and the proxies ("playbackStartPrerollShiftedBeats",
// "warningClicks", "warningClickNoteDuration", "clickMuteSetting",
// "warningBeatPunchesEnabled"). The time texts change on every tick and are
// read after updateCurrentTimeDisplays.
//
// Threads: main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/KeyValueObservable.h"
#include "platform/NotificationCenter.h"
#include "platform/Timer.h"

namespace tollvane {

class Cue;
class TransportController;

class TransportViewController : public KeyValueObservable {
public:
    static constexpr double kDisplayInterval = 0.04;
    static constexpr const char* kNoBarBeat = "-|-|---";
    static constexpr const char* kNoRealTime = "-:--.--";

    // On the shared transport.
    TransportViewController();
    // Follows the transport's cue player ("selectedCue") and the transport's
    // "rehearsalActive", and listens for the transport's notifications.
    explicit TransportViewController(TransportController& transport);
    ~TransportViewController() override;
    TransportViewController(const TransportViewController&) = delete;
    TransportViewController& operator=(const TransportViewController&) = delete;

    // The repeating display timer on the main run loop.
    void startDisplayTimer();
    void stopDisplayTimer();
    bool displayTimerRunning() const;

    // The timer's work: refreshes the texts of the fields not being edited.
    void updateCurrentTimeDisplays();
    const std::string& barBeatText() const { return barBeatText_; }
    const std::string& realTimeText() const { return realTimeText_; }
    // Both layouts' timecode fields show this.
    const std::string& timecodeText() const { return timecodeText_; }

    // Runs when the rehearsal flag or MTC following changes.
    void updateTransportControls();
    // Both layouts' rehearse buttons: "pause-16" or "play-16-off".
    const std::string& rehearseButtonImage() const { return rehearseButtonImage_; }
    // After the button was used: the sync controller's playing state.
    const std::string& scoringRehearseButtonImage() const { return scoringRehearseButtonImage_; }
    bool adrFoleyRehearseButtonOn() const { return adrFoleyRehearseButtonOn_; }
    // "time-16-on" / "Online" or "time-16-off" / "Offline".
    const std::string& onlineButtonImage() const { return onlineButtonImage_; }
    const std::string& onlineButtonTitle() const { return onlineButtonTitle_; }

    // The rehearse button.
    void toggleRehearsal();
    void rehearseFromTop();

    // Locating by typing.
    void barBeatCounterClicked() { beginBarBeatEntry(); }
    void scoringTimecodeCounterClicked() { beginTimecodeEntryScoring(); }
    // Only while the sync controller is stopped and a cue is selected;
    // answers whether the field became editable.
    bool beginBarBeatEntry();
    bool beginTimecodeEntryScoring();
    // The typed text: parsed and located to; empty or unparsable text
    // changes nothing. Either way the field goes back to read-only.
    void barBeatEntryFinished(std::string_view text);
    void scoringTimecodeEntryFinished(std::string_view text);
    void endTimeEntry();
    bool barBeatFieldEditing() const { return barBeatFieldEditing_; }
    bool timecodeFieldEditing() const { return timecodeFieldEditing_; }

    // A cue is selected.
    bool canChangeTransportSettings() const;

    // "PICKUP into" (white, on dark red) while pickup is active, else
    // "Countoff into" (black).
    std::string pickupLabel() const;
    bool pickupLabelIsWhite() const;

    // Proxies of the transport's settings.
    double playbackStartPrerollShiftedBeats() const;
    void setPlaybackStartPrerollShiftedBeats(double beats);
    uint32_t warningClicks() const;
    void setWarningClicks(uint32_t clicks);
    int32_t warningClickNoteDuration() const;
    void setWarningClickNoteDuration(int32_t code);
    uint32_t clickMuteSetting() const;
    void setClickMuteSetting(uint32_t setting);
    bool warningBeatPunchesEnabled() const;
    void setWarningBeatPunchesEnabled(bool enabled);

private:
    std::shared_ptr<Cue> selectedCue() const;
    void selectedCueDidChange();
    void refreshRehearseButtonState();
    void announce(std::string_view key);

    TransportController& transport_;
    std::shared_ptr<Timer> displayTimer_;
    std::string barBeatText_ = kNoBarBeat;
    std::string realTimeText_ = kNoRealTime;
    std::string timecodeText_;
    std::string rehearseButtonImage_ = "play-16-off";
    std::string scoringRehearseButtonImage_ = "play-16-off";
    bool adrFoleyRehearseButtonOn_ = false;
    std::string onlineButtonImage_ = "time-16-on";
    std::string onlineButtonTitle_ = "Online";
    bool barBeatFieldEditing_ = false;
    bool timecodeFieldEditing_ = false;
    KeyValueObservable::ObserverToken cueControllerToken_ = 0;
    KeyValueObservable::ObserverToken transportToken_ = 0;
    std::vector<NotificationCenter::ObserverToken> notificationTokens_;
};

}  // namespace tollvane
