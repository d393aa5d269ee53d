#include "model/CueEventLockTimeFormatter.h"

#include "model/CueEvent.h"

namespace tollvane {

namespace {

constexpr const char* kLockTypeKey = "lockType";
constexpr const char* kLockTimeKey = "lockTime";

bool isKnownLockType(int64_t lockType) {
    return lockType == CueEvent::kLockTypeBeat || lockType == CueEvent::kLockTypeBar ||
           lockType == CueEvent::kLockTypeTimecode;
}

BarBeatFormatter::ObjectValue barBeatObjectValue(const Value& value) {
    if (value.isNumber()) return value.toDouble();
    if (value.isString()) return value.stringValue();
    return std::monostate{};
}

EMTimecodeFormatter::ObjectValue timecodeObjectValue(const Value& value) {
    if (auto timecode = value.object<EMTimecode>()) return timecode;
    if (value.isString()) return value.stringValue();
    if (value.isNull()) return std::monostate{};
    return value.toDouble();
}

}  // namespace

CueEventLockTimeFormatter::CueEventLockTimeFormatter(BarBeatFormatter::CueProvider cueProvider)
    : barOnlyFormatter_(cueProvider, true),
      barBeatFormatter_(std::move(cueProvider), false),
      currentLockType_(CueEvent::kLockTypeBeat) {}

std::string CueEventLockTimeFormatter::stringForObjectValue(const Value& lockTime) {
    const auto& dictionary = lockTime.dictionaryValue();
    const Value* type = dictionary ? dictionary->find(kLockTypeKey) : nullptr;
    if (!type || !type->isNumber() || !isKnownLockType(type->toInt64())) return "-";
    const Value* time = dictionary->find(kLockTimeKey);
    const Value value = time ? *time : Value();

    currentLockType_ = static_cast<int32_t>(type->toInt64());
    if (currentLockType_ == CueEvent::kLockTypeTimecode) {
        return timecodeFormatter_.stringForObjectValue(timecodeObjectValue(value));
    }
    if (currentLockType_ == CueEvent::kLockTypeBar) {
        barOnlyFormatter_.setBarOnly(true);
        return barOnlyFormatter_.stringForObjectValue(barBeatObjectValue(value));
    }
    barBeatFormatter_.setBarOnly(false);
    return barBeatFormatter_.stringForObjectValue(barBeatObjectValue(value));
}

Value CueEventLockTimeFormatter::getObjectValue(const std::string& text, std::string* error) const {
    Value lockTime;
    if (currentLockType_ == CueEvent::kLockTypeTimecode) {
        lockTime = Value(timecodeFormatter_.getObjectValue(text));
    } else {
        const BarBeatFormatter& formatter =
            currentLockType_ == CueEvent::kLockTypeBar ? barOnlyFormatter_ : barBeatFormatter_;
        const BarBeatFormatter::ParseResult parsed = formatter.getObjectValue(text);
        if (!parsed.ok) {
            if (error) *error = parsed.error;
            return {};
        }
        // Bar-locked times travel as beats too; the event takes the bar of them.
        lockTime = Value(parsed.beats);
    }
    Value result = Value::dictionary();
    result.dictionaryValue()->set(kLockTypeKey, Value(int64_t{currentLockType_}));
    result.dictionaryValue()->set(kLockTimeKey, std::move(lockTime));
    return result;
}

}  // namespace tollvane
