#pragma once

// A change of the printed bar numbers from its position on.
//
// Threads: main thread only.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "model/CueEvent.h"

namespace tollvane {

class Color;

class CueEventBarNumberChange : public CueEvent {
public:
    explicit CueEventBarNumberChange(Passkey key) : CueEvent(key) {}

    static std::shared_ptr<CueEventBarNumberChange> barNumberChangeEventWithCue(
        const std::shared_ptr<Cue>& cue, double timeStamp);

    // None until set.
    const std::optional<std::string>& barNumber() const { return barNumber_; }
    void setBarNumber(std::optional<std::string> barNumber);

    int32_t sortPriority() const override { return 80; }
    std::string eventTypeString() const override { return "Bar Number Change"; }
    uint32_t proxyCode() const override { return fourCharCode("b#ch"); }
    Value eventProxy() const override;
    std::string archiveClassName() const override { return "CueEventBarNumberChange"; }
    static void registerArchiveClass();

protected:
    void initKindDefaults() override;
    std::shared_ptr<CueEvent> makeEmptyCopy() const override;
    void copyKindFieldsTo(CueEvent& copy) const override;
    void encodeKindFields(KeyedArchiver& coder) const override;
    void decodeKindFields(KeyedUnarchiver& coder) override;
    bool keyAffectsEventProxy(std::string_view key) const override;
    bool performKindUndoOperation(const std::string& operation, const Value& argument) override;

private:
    std::optional<std::string> barNumber_;
};

}  // namespace tollvane
