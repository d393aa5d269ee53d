#pragma once

// The bar and beat punches that a meter change and a click change set from
// their position on: whether the bar punch is on, and each punch's colour and
// holes. Both kinds take this as a second base, so the accessors, the undo
// operations ("Change Auto Punch Options"), the archive keys and the fix-ups
// for older records are written once. How the beat punch is switched differs
// (a flag on the meter change, a note duration on the click change) and stays
// with each kind.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tollvane {

class Color;
class CueEvent;
class KeyedArchiver;
class KeyedUnarchiver;
class Value;

class AutoPunchSettings {
public:
    bool barPunchEnabled() const { return barPunchEnabled_; }
    void setBarPunchEnabled(bool enabled);
    std::shared_ptr<Color> barPunchColor() const { return barPunchColor_; }
    void setBarPunchColor(std::shared_ptr<Color> color);
    int32_t barPunchHoles() const { return barPunchHoles_; }
    void setBarPunchHoles(int32_t holes);
    std::shared_ptr<Color> beatPunchColor() const { return beatPunchColor_; }
    void setBeatPunchColor(std::shared_ptr<Color> color);
    int32_t beatPunchHoles() const { return beatPunchHoles_; }
    void setBeatPunchHoles(int32_t holes);

protected:
    static constexpr const char* kPunchAction = "Change Auto Punch Options";

    // `owner` is the event this is a base of: it registers the undo steps
    // and announces the changes.
    explicit AutoPunchSettings(CueEvent& owner) : owner_(owner) {}
    ~AutoPunchSettings() = default;
    AutoPunchSettings(const AutoPunchSettings&) = delete;
    AutoPunchSettings& operator=(const AutoPunchSettings&) = delete;

    // Bar punch off; white; three holes on the bar, one on the beat.
    void initPunchDefaults();
    // Through the copy's setters.
    void copyPunchesTo(AutoPunchSettings& copy) const;
    // The archive keeps the kind's beat-punch switch between the two:
    // "barPunchEnabled", "barPunchColor", "barPunchHoles", the switch,
    // "beatPunchColor", "beatPunchHoles".
    void encodeBarPunch(KeyedArchiver& coder) const;
    void encodeBeatPunch(KeyedArchiver& coder) const;
    // Records written before the punch options existed have no colours and
    // zero holes; they read as white, 3 holes on the bar and 1 on the beat.
    void decodePunches(KeyedUnarchiver& coder);
    // The keys above, which feed the compiled sequence.
    static bool isPunchKey(std::string_view key);
    // The setters' undo operations; answers whether it was one of them.
    bool performPunchUndoOperation(const std::string& operation, const Value& argument);

private:
    CueEvent& owner_;
    bool barPunchEnabled_ = false;
    std::shared_ptr<Color> barPunchColor_;
    int32_t barPunchHoles_ = 3;
    std::shared_ptr<Color> beatPunchColor_;
    int32_t beatPunchHoles_ = 1;
};

}  // namespace tollvane
