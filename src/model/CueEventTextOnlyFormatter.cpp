#include "model/CueEventTextOnlyFormatter.h"

namespace tollvane {

std::string CueEventTextOnlyFormatter::stringForObjectValue(const Value& eventProxy) const {
    const auto& proxy = eventProxy.dictionaryValue();
    const Value* text = proxy ? proxy->find("text") : nullptr;
    return text ? text->stringValue() : std::string();
}

CueEventTextOnlyFormatter::AttributedText CueEventTextOnlyFormatter::attributedStringForObjectValue(
    const Value& eventProxy) const {
    const auto& proxy = eventProxy.dictionaryValue();
    const Value* enabled = proxy ? proxy->find("enabled") : nullptr;
    // A proxy that does not say is shown as enabled.
    return {stringForObjectValue(eventProxy), enabled && !enabled->toBool(true)};
}

bool CueEventTextOnlyFormatter::getObjectValue(std::string_view, Value*) const {
    return false;
}

}  // namespace tollvane
