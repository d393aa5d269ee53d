#include "playback/TLEvent.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/UserDefaults.h"
#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/ArchiveError.h"
#include "platform/archive/ArchiveField.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "playback/PlaybackApplication.h"

namespace tollvane {

namespace {

constexpr const char* kEventType = "eventType";
constexpr const char* kEventLength = "eventLength";
constexpr const char* kEventSize = "eventSize";
constexpr const char* kEventColor = "eventColor";
constexpr const char* kCustomName = "customName";
constexpr const char* kBeepCount = "beepCount";
constexpr const char* kBeepTime = "beepTime";
constexpr const char* kInspectorPrefix = "inspectorShouldShow";

// Archived once: factories run on the sync thread for every visual click,
// and Values share their bytes.
const Value& whiteColorData() {
    static const Value data(Color::calibrated(1.0, 1.0, 1.0, 1.0)->archivedData());
    return data;
}

const Value& greenColorData() {
    static const Value data(Color::calibrated(0.0, 1.0, 0.0, 1.0)->archivedData());
    return data;
}

std::string formatted(const char* format, auto... arguments) {
    const int length = std::snprintf(nullptr, 0, format, arguments...);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), format, arguments...);
    text.resize(static_cast<size_t>(length));
    return text;
}

const char* sizeWord(int64_t size) {
    switch (size) {
        case 0:
            return "small";
        case 2:
            return "large";
        default:
            return "regular";
    }
}

// Keys whose value is computed from others, announced when those change.
std::vector<std::string_view> dependentKeys(std::string_view key) {
    if (key == kCustomName) return {"eventName", "eventData", "sortInfo"};
    if (key == kEventColor) return {"eventData", "sortInfo"};
    if (key == kBeepCount)
        return {"defaultName", "eventName", "eventData", "inspectorShouldShowBeepTimeField"};
    if (key == kEventType || key == kEventLength || key == kEventSize || key == kBeepTime) {
        return {"defaultName", "eventName", "eventData", "sortInfo"};
    }
    return {};
}

// The old-style property-list text the platform prints for a value.
bool needsQuotes(const std::string& text) {
    if (text.empty()) return true;
    return !std::all_of(text.begin(), text.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return std::isalnum(u) || c == '_' || c == '$' || c == '+' || c == '/' || c == ':' || c == '.' ||
               c == '-';
    });
}

std::string quoted(const std::string& text) {
    if (!needsQuotes(text)) return text;
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        if (c == '\n') {
            out += "\\n";
            continue;
        }
        out += c;
    }
    return out + "\"";
}

std::string describe(const Value& value, int indent);

std::string describeDictionary(const ValueDictionary& dictionary, int indent) {
    const std::string pad(static_cast<size_t>(indent) * 4, ' ');
    std::vector<std::pair<std::string, std::string>> lines;
    lines.reserve(dictionary.entries.size());
    for (const auto& [key, value] : dictionary.entries) {
        lines.emplace_back(describe(key, indent + 1), describe(value, indent + 1));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::string out = "{\n";
    for (const auto& [key, value] : lines) out += pad + "    " + key + " = " + value + ";\n";
    return out + pad + "}";
}

std::string describe(const Value& value, int indent) {
    switch (value.type()) {
        case Value::Type::Null:
            return "<null>";
        case Value::Type::Bool:
            return value.toBool() ? "1" : "0";
        case Value::Type::Integer:
            return std::to_string(value.toInt64());
        case Value::Type::Real:
            return formatted("%.16g", value.toDouble());
        case Value::Type::String:
            return quoted(value.stringValue());
        case Value::Type::Data: {
            std::string out = "<";
            const Data& bytes = value.dataValue();
            for (size_t i = 0; i < bytes.size(); ++i) {
                if (i > 0 && i % 4 == 0) out += ' ';
                out += formatted("%02x", static_cast<unsigned>(bytes[i]));
            }
            return out + ">";
        }
        case Value::Type::Array: {
            const std::string pad(static_cast<size_t>(indent) * 4, ' ');
            const auto& items = value.arrayValue()->items;
            std::string out = "(\n";
            for (size_t i = 0; i < items.size(); ++i) {
                out += pad + "    " + describe(items[i], indent + 1);
                out += i + 1 < items.size() ? ",\n" : "\n";
            }
            return out + pad + ")";
        }
        case Value::Type::Dictionary:
            return describeDictionary(*value.dictionaryValue(), indent);
        case Value::Type::Object:
            return "<" + value.objectValue()->archiveClassName() + ">";
    }
    return {};
}

// The calibrated RGB archive of a colour given as archived data or as a
// colour; null for anything else.
std::optional<Value> calibratedColorData(const Value& value) {
    std::shared_ptr<Color> color;
    if (value.isData()) {
        color = Color::fromArchivedData(value.dataValue());
    } else {
        color = value.object<Color>();
    }
    if (!color) return std::nullopt;
    return Value(color->colorUsingCalibratedRGB()->archivedData());
}

ArchiveField referenceList(const std::vector<Value>& values) {
    ArchiveField field;
    field.kind = ArchiveField::Kind::Array;
    field.items.reserve(values.size());
    for (const Value& value : values) field.items.push_back(ArchiveField::reference(value));
    return field;
}

std::vector<Value> valuesOf(const ArchiveField& field, const char* key) {
    if (field.kind == ArchiveField::Kind::Inline && field.value.isNull()) return {};
    if (field.kind != ArchiveField::Kind::Array) {
        throw ArchiveError(std::string("TLEvent: \"") + key + "\" is not an array");
    }
    std::vector<Value> values;
    values.reserve(field.items.size());
    for (const ArchiveField& item : field.items) {
        if (item.kind == ArchiveField::Kind::Array || item.kind == ArchiveField::Kind::Dictionary) {
            throw ArchiveError(std::string("TLEvent: \"") + key + "\" holds an inline container");
        }
        values.push_back(item.value);
    }
    return values;
}

}  // namespace

TLEvent::TLEvent() : contents_(std::make_shared<ValueDictionary>()) {
    contents_->isMutable = true;
}

std::shared_ptr<TLEvent> TLEvent::eventOfType(uint32_t type) {
    auto event = std::make_shared<TLEvent>();
    event->store(kEventType, Value(int64_t{type}));
    return event;
}

// --- Factories -------------------------------------------------------------------

std::shared_ptr<TLEvent> TLEvent::streamerEvent() {
    auto event = eventOfType(kStreamer);
    event->store(kEventLength, Value(3));
    event->store(kEventSize, Value(1));
    event->store(kEventColor, greenColorData());
    return event;
}

std::shared_ptr<TLEvent> TLEvent::punchEvent() {
    auto event = eventOfType(kPunch);
    event->store(kEventLength, Value(1));
    event->store(kEventSize, Value(1));
    event->store(kEventColor, whiteColorData());
    return event;
}

std::shared_ptr<TLEvent> TLEvent::cueStartEvent() {
    auto event = eventOfType(kCueStart);
    event->store(kEventLength, Value(1));
    event->store(kEventSize, Value(1));
    event->store(kEventColor, whiteColorData());
    return event;
}

std::shared_ptr<TLEvent> TLEvent::clickEvent() {
    auto event = eventOfType(kClick);
    event->store(kEventLength, Value(1));
    event->store(kEventSize, Value(1));
    event->store("volume", Value(0.0));
    event->store(kEventColor, whiteColorData());
    return event;
}

std::shared_ptr<TLEvent> TLEvent::beepEvent() {
    auto event = eventOfType(kBeeps);
    event->store(kBeepCount, Value(3));
    event->store(kBeepTime, Value(2.0));
    event->store("beepPunches", Value(false));
    return event;
}

std::shared_ptr<TLEvent> TLEvent::textChangeEvent() {
    auto event = eventOfType(kTextChange);
    event->store("text", Value(""));
    return event;
}

std::shared_ptr<TLEvent> TLEvent::reelMuteEvent() {
    return eventOfType(kReelMute);
}

std::shared_ptr<TLEvent> TLEvent::cueChangeEvent() {
    auto event = eventOfType(kCueChange);
    event->store("cueNumber", Value(""));
    return event;
}

// --- Keys ------------------------------------------------------------------------

Value TLEvent::valueForKey(std::string_view key) const {
    if (key == "eventName") return Value(eventName());
    if (key == "defaultName") return Value(defaultName());
    if (key == "sortInfo") return Value(sortInfo());
    if (key.starts_with(kInspectorPrefix)) {
        return Value(inspectorShouldShow(key.substr(std::string_view(kInspectorPrefix).size())));
    }
    const Value* value = contents_->find(key);
    return value ? *value : Value();
}

void TLEvent::setValueForKey(std::string_view key, const Value& value) {
    Value stored = value;
    if (key == kEventColor && !value.isNull()) {
        std::optional<Value> calibrated = calibratedColorData(value);
        // Anything that is no colour is refused; the old colour stays.
        if (!calibrated) return;
        stored = std::move(*calibrated);
    }
    willChangeValueForKey(key);
    if (stored.isNull()) {
        contents_->erase(key);
    } else {
        contents_->set(key, std::move(stored));
    }
    didChangeValueForKey(key);
    for (const std::string_view dependent : dependentKeys(key)) didChangeValueForKey(dependent);
}

uint32_t TLEvent::eventType() const {
    const Value* type = contents_->find(kEventType);
    return type ? static_cast<uint32_t>(type->toInt64()) : 0;
}

void TLEvent::setEventType(uint32_t type) {
    setValueForKey(kEventType, Value(int64_t{type}));
}

void TLEvent::setColorWithRed(float red, float green, float blue) {
    // Streamers of one cue come in a handful of colours: keep the last few
    // archives per thread rather than archive a colour for every event.
    struct Cached {
        float red = -1.0f, green = -1.0f, blue = -1.0f;
        Value data;
    };
    constexpr size_t kCacheSize = 8;
    thread_local std::array<Cached, kCacheSize> cache;
    thread_local size_t nextSlot = 0;
    const Value* data = nullptr;
    for (const Cached& entry : cache) {
        if (entry.red == red && entry.green == green && entry.blue == blue && entry.data.isData()) {
            data = &entry.data;
            break;
        }
    }
    if (!data) {
        Cached& slot = cache[nextSlot];
        nextSlot = (nextSlot + 1) % kCacheSize;
        slot = {red, green, blue, Value(Color::calibrated(red, green, blue, 1.0)->archivedData())};
        data = &slot.data;
    }
    willChangeValueForKey(kEventColor);
    contents_->set(kEventColor, *data);
    didChangeValueForKey(kEventColor);
    for (const std::string_view dependent : dependentKeys(kEventColor)) didChangeValueForKey(dependent);
}

std::shared_ptr<Color> TLEvent::color() const {
    const uint32_t type = eventType();
    if (type != kStreamer && type != kPunch) return nullptr;
    const Value* data = contents_->find(kEventColor);
    if (!data || !data->isData()) return nullptr;
    return Color::fromArchivedData(data->dataValue());
}

std::string TLEvent::defaultName() const {
    const auto number = [this](const char* key) {
        const Value* value = contents_->find(key);
        return value ? *value : Value();
    };
    const int64_t size = number(kEventSize).toInt64();
    switch (eventType()) {
        case kBeeps: {
            const int64_t count = number(kBeepCount).toInt64();
            if (count == 1) return "beep";
            return formatted("%d beeps (%0.2f sec)", static_cast<int>(count), number(kBeepTime).toDouble());
        }
        case kClick:
            return "click";
        case kPunch: {
            const int64_t holes = number(kEventLength).toInt64();
            if (holes == 1) return formatted("1-hole punch, %s", sizeWord(size));
            return formatted("%d-hole flutter, %s", static_cast<int>(holes), sizeWord(size));
        }
        case kStreamer:
            return formatted("%0.1f' %s streamer", number(kEventLength).toDouble(), sizeWord(size));
        case kCueStart:
            return "cue start";
        default:
            return "\u2014";
    }
}

std::string TLEvent::eventName() const {
    const Value* name = contents_->find(kCustomName);
    if (name && name->isString()) return name->stringValue();
    return defaultName();
}

std::string TLEvent::sortInfo() const {
    const uint32_t type = eventType();
    if (type == kCueStart) return "CStart";
    if (type != kStreamer && type != kPunch) return "-";
    int hue = 0;
    int brightness = 0;
    int saturation = 0;
    if (const std::shared_ptr<Color> shade = color()) {
        hue = static_cast<int>(shade->hueComponent() * 256.0) % 256;
        brightness = static_cast<int>(shade->brightnessComponent() * 256.0);
        saturation = static_cast<int>(shade->saturationComponent() * 256.0);
    }
    const Value* length = contents_->find(kEventLength);
    return formatted(type == kStreamer ? "Stmr%02d%03d%03d%03d%s" : "Pnch%02d%03d%03d%03d%s",
                     static_cast<int>(length ? length->toInt64() : 0), hue, brightness, saturation,
                     eventName().c_str());
}

bool TLEvent::inspectorShouldShow(std::string_view field) const {
    const uint32_t type = eventType();
    const bool drawn = type == kStreamer || type == kPunch;
    if (field == "NameField") return true;
    if (field == "LengthPopup") return type == kStreamer;
    if (field == "PunchCountPopup") return type == kPunch;
    if (field == "BeepCountField" || field == "BeepTimeField") return type == kBeeps;
    if (field == "SizePopup" || field == "ColorWell") return drawn;
    if (field == "PreviewButton") return drawn || type == kBeeps || type == kClick;
    return false;
}

std::string TLEvent::description() const {
    return "TLEvent, contents = " + describeDictionary(*contents_, 0);
}

std::shared_ptr<TLEvent> TLEvent::copy() const {
    auto event = std::make_shared<TLEvent>();
    for (const auto& [key, value] : contents_->entries) {
        if (key.isString()) {
            event->setValueForKey(key.stringValue(), value);
        } else {
            event->contents_->entries.emplace_back(key, value);
        }
    }
    return event;
}

// --- Archiving -------------------------------------------------------------------

void TLEvent::encodeWithCoder(KeyedArchiver& coder) const {
    // The contents dictionary's own keyed form, as the event's fields.
    std::vector<Value> keys;
    std::vector<Value> objects;
    keys.reserve(contents_->entries.size());
    objects.reserve(contents_->entries.size());
    for (const auto& [key, value] : contents_->entries) {
        keys.push_back(key);
        objects.push_back(value);
    }
    coder.encodeArchiveField(referenceList(keys), "NS.keys");
    coder.encodeArchiveField(referenceList(objects), "NS.objects");
}

std::shared_ptr<Archivable> TLEvent::decode(KeyedUnarchiver& coder) {
    std::vector<Value> keys = valuesOf(coder.decodeArchiveField("NS.keys"), "NS.keys");
    std::vector<Value> objects = valuesOf(coder.decodeArchiveField("NS.objects"), "NS.objects");
    if (keys.size() != objects.size()) {
        throw ArchiveError("TLEvent: \"NS.keys\" has " + std::to_string(keys.size()) +
                           " entries but \"NS.objects\" has " + std::to_string(objects.size()));
    }
    auto event = std::make_shared<TLEvent>();
    event->contents_->entries.reserve(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) event->contents_->entries.emplace_back(keys[i], objects[i]);
    return event;
}

void TLEvent::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] { ArchiveClassRegistry::registerClass("TLEvent", &TLEvent::decode); });
}

// --- Triggering ------------------------------------------------------------------

namespace {

// Punches, beeps and clicks are instants: more than a frame late they are
// better left out than shown at the wrong moment.
constexpr float kInstantSkipLimit = 1.0f / 30.0f;

struct Components {
    float red = 1.0f, green = 1.0f, blue = 1.0f;
};

Components componentsOf(const std::shared_ptr<Color>& color) {
    if (!color) return {};
    const std::shared_ptr<Color> rgb = color->colorUsingCalibratedRGB();
    return {static_cast<float>(rgb->redComponent()), static_cast<float>(rgb->greenComponent()),
            static_cast<float>(rgb->blueComponent())};
}

}  // namespace

void TLEvent::trigger() {
    const float skip = eventType() == kStreamer
                           ? UserDefaults::standardUserDefaults().floatForKey("latencyCompensation")
                           : 0.0f;
    triggerSkippingSeconds(skip);
}

void TLEvent::triggerSkippingSeconds(float seconds) {
    // Everything a trigger reaches (windows, audio, documents) belongs to the
    // main thread; a call from elsewhere is a caller's bug, refused loudly.
    if (const RunLoop* loop = RunLoop::mainIfInstalled(); loop && !loop->isMainThread()) {
        TLLog("Warning: TLEvent of type 0x%x triggered off the main thread. Ignoring.", eventType());
        return;
    }
    const auto number = [this](const char* key) {
        const Value* value = contents_->find(key);
        return value ? *value : Value();
    };
    PlaybackApplication& application = PlaybackApplication::current();
    switch (eventType()) {
        case kStreamer: {
            const Components shade = componentsOf(color());
            application.addStreamerWithRed(shade.red, shade.green, shade.blue,
                                           number(kEventLength).toDouble(),
                                           static_cast<int>(number(kEventSize).toInt64()), seconds);
            break;
        }
        case kPunch: {
            if (seconds > kInstantSkipLimit) return;
            const Components shade = componentsOf(color());
            application.addPunchWithHoles(static_cast<int>(number(kEventLength).toInt64()), shade.red,
                                          shade.green, shade.blue,
                                          static_cast<int>(number(kEventSize).toInt64()));
            break;
        }
        case kBeeps:
            if (seconds > kInstantSkipLimit) return;
            application.addBeepsWithTime(number(kBeepTime).toDouble(),
                                         static_cast<int>(number(kBeepCount).toInt64()),
                                         number("beepPunches").toBool());
            break;
        case kClick:
            if (seconds > kInstantSkipLimit) return;
            application.addClickWithVolume(1.0);
            break;
        case kCueStart:
            application.setCueStart();
            break;
        case kTextChange:
            application.setDisplayText(number("text").stringValue());
            break;
        case kReelMute:
            if (UserDefaults::standardUserDefaults().boolForKey("muteReelAudioAtCueStart")) {
                application.setMovieMuted(true);
            }
            break;
        case kCueChange: {
            const int64_t handle = number("document").toInt64();
            if (handle <= 0 || handle > int64_t{UINT32_MAX}) return;
            application.selectCueMatching(static_cast<uint32_t>(handle), number("cueNumber").stringValue());
            break;
        }
        default:
            break;
    }
}

}  // namespace tollvane
