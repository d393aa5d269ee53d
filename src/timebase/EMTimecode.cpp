#include "timebase/EMTimecode.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/archive/ArchiveClassRegistry.h"
#include "platform/archive/KeyedArchiver.h"
#include "platform/archive/KeyedUnarchiver.h"
#include "timebase/TextScanning.h"

namespace tollvane {

namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
constexpr int64_t kInt64Min = std::numeric_limits<int64_t>::min();
constexpr int kBitsPerFrame = 80;
constexpr double kVideoSpeedFactor = 1.001;

using textscan::clampToInt32;

// Counts from outside input (damaged archives, huge typed numbers) must never
// overflow: arithmetic on them saturates at the int64 limits.
int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t result;
    if (__builtin_add_overflow(a, b, &result)) return b > 0 ? kInt64Max : kInt64Min;
    return result;
}

int64_t saturatingMultiply(int64_t a, int64_t b) {
    int64_t result;
    if (__builtin_mul_overflow(a, b, &result)) return (a < 0) != (b < 0) ? kInt64Min : kInt64Max;
    return result;
}

int64_t saturatingNegate(int64_t value) {
    return value == kInt64Min ? kInt64Max : -value;
}

// fps 0 only comes from a damaged archive; it counts as 1, the invalid rate.
int64_t divisorFps(EMTimecodeFramerate rate) {
    return rate.fps == 0 ? 1 : static_cast<int64_t>(rate.fps);
}

double speedFactor(EMTimecodeFramerate rate) {
    return rate.videoSpeed ? kVideoSpeedFactor : 1.0;
}

// Moves whole multiples of `base` from `value` into `next`, leaving 0..base-1.
void carry(int64_t& value, int64_t base, int64_t& next) {
    if (value >= 0 && value < base) return;
    int64_t quotient = value / base;
    int64_t remainder = value % base;
    if (remainder < 0) {
        remainder += base;
        --quotient;
    }
    value = remainder;
    next += quotient;
}

// The frame count of the fields, without the sign of `negative`.
int64_t unsignedCount(int32_t hh, int32_t mm, int32_t ss, int32_t ff, EMTimecodeFramerate rate) {
    const int64_t seconds = 3600 * static_cast<int64_t>(hh) + 60 * static_cast<int64_t>(mm) + ss;
    int64_t n = saturatingAdd(saturatingMultiply(divisorFps(rate), seconds), ff);
    if (rate.countsDropFrames()) n = n - 2 * (n / 1800) + 2 * (n / 18000);
    return n;
}

// Text is built in a stack buffer and copied into the string once, so the
// short forms stay within the string's own storage.
class TextBuffer {
public:
    void append(char c) { buffer_[length_++] = c; }
    void append(const char* text) {
        while (*text) buffer_[length_++] = *text++;
    }
    void appendInt(int64_t value) {
        auto result = std::to_chars(buffer_ + length_, buffer_ + sizeof buffer_, value);
        length_ = static_cast<size_t>(result.ptr - buffer_);
    }
    void appendUnsigned(uint64_t value) {
        auto result = std::to_chars(buffer_ + length_, buffer_ + sizeof buffer_, value);
        length_ = static_cast<size_t>(result.ptr - buffer_);
    }
    // "%02d".
    void appendTwoDigits(int64_t value) {
        if (value >= 0 && value < 100) {
            append(static_cast<char>('0' + value / 10));
            append(static_cast<char>('0' + value % 10));
        } else {
            appendInt(value);
        }
    }
    std::string str() const { return std::string(buffer_, length_); }

private:
    // Five 32-bit fields with their signs, separators and the longest label.
    char buffer_[96];
    size_t length_ = 0;
};

std::string feetFrames(int64_t count, uint64_t framesPerFoot) {
    const bool negative = count < 0;
    const uint64_t magnitude =
        negative ? static_cast<uint64_t>(-(count + 1)) + 1 : static_cast<uint64_t>(count);
    TextBuffer out;
    if (negative) out.append('-');
    out.appendUnsigned(magnitude / framesPerFoot);
    out.append('+');
    out.appendTwoDigits(static_cast<int64_t>(magnitude % framesPerFoot));
    return out.str();
}

}  // namespace

EMTimecode::EMTimecode() = default;

EMTimecode::EMTimecode(const EMTimecode& other) : Archivable() {
    assignFrom(other);
}

EMTimecode& EMTimecode::operator=(const EMTimecode& other) {
    if (this != &other) assignFrom(other);
    return *this;
}

void EMTimecode::assignFrom(const EMTimecode& other) {
    const Fields source = other.loadFields();
    const EMTimecodeFramerate rate = other.framerate();
    // As a new timecode would: from zero, the rate first, then each field.
    storeFields({0, 0, 0, 0, 0});
    setFramerate(rate);
    setHH(source.hh);
    setMM(source.mm);
    setSS(source.ss);
    setFF(source.ff);
    setBits(static_cast<uint32_t>(source.bits));
    negative_.store(false, std::memory_order_relaxed);
}

std::shared_ptr<EMTimecode> EMTimecode::timecodeWithFramerate(EMTimecodeFramerate framerate, int32_t hh,
                                                              int32_t mm, int32_t ss, int32_t ff) {
    auto timecode = std::make_shared<EMTimecode>();
    timecode->setFramerate(framerate);
    timecode->setHH(hh);
    timecode->setMM(mm);
    timecode->setSS(ss);
    timecode->setFF(ff);
    return timecode;
}

std::shared_ptr<EMTimecode> EMTimecode::timecodeWithFramerate(EMTimecodeFramerate framerate, int32_t hh,
                                                              int32_t mm, int32_t ss, int32_t ff,
                                                              uint32_t bits) {
    auto timecode = timecodeWithFramerate(framerate, hh, mm, ss, ff);
    timecode->setBits(bits);
    return timecode;
}

std::shared_ptr<EMTimecode> EMTimecode::timecodeWithFramerate(EMTimecodeFramerate framerate,
                                                              std::string_view fromStringRepresentation) {
    auto timecode = std::make_shared<EMTimecode>();
    timecode->setFramerate(framerate);
    timecode->setStringRepresentation(fromStringRepresentation);
    return timecode;
}

std::shared_ptr<EMTimecode> EMTimecode::invalidTimecode() {
    auto timecode = std::make_shared<EMTimecode>();
    timecode->storeFramerate(EMTimecodeFramerate{1, false, false});
    return timecode;
}

// ---- fields and normalisation

EMTimecode::Fields EMTimecode::loadFields() const {
    return {hh_.load(std::memory_order_relaxed), mm_.load(std::memory_order_relaxed),
            ss_.load(std::memory_order_relaxed), ff_.load(std::memory_order_relaxed),
            bits_.load(std::memory_order_relaxed)};
}

void EMTimecode::storeFields(const Fields& fields) {
    hh_.store(fields.hh, std::memory_order_relaxed);
    mm_.store(fields.mm, std::memory_order_relaxed);
    ss_.store(fields.ss, std::memory_order_relaxed);
    ff_.store(fields.ff, std::memory_order_relaxed);
    bits_.store(fields.bits, std::memory_order_relaxed);
}

void EMTimecode::storeNormalised(Fields fields) {
    const EMTimecodeFramerate rate = framerate();
    if (rate.fps >= 2) {
        // In 64 bits so that no carry can overflow; only the hours can leave
        // the 32-bit range, and they saturate.
        int64_t bits = fields.bits, ff = fields.ff, ss = fields.ss, mm = fields.mm, hh = fields.hh;
        carry(bits, kBitsPerFrame, ff);
        carry(ff, rate.fps, ss);
        carry(ss, 60, mm);
        carry(mm, 60, hh);
        // Labels 00 and 01 do not exist in minutes that are not a multiple of ten.
        if (rate.countsDropFrames() && ff < 2 && ss == 0 && mm % 10 != 0) ff += 2;
        fields = {clampToInt32(hh), static_cast<int32_t>(mm), static_cast<int32_t>(ss), clampToInt32(ff),
                  static_cast<int32_t>(bits)};
    }
    storeFields(fields);
}

void EMTimecode::setHH(int32_t hh) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Fields fields = loadFields();
    fields.hh = hh;
    storeNormalised(fields);
}

void EMTimecode::setMM(int32_t mm) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Fields fields = loadFields();
    fields.mm = mm;
    storeNormalised(fields);
}

void EMTimecode::setSS(int32_t ss) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Fields fields = loadFields();
    fields.ss = ss;
    storeNormalised(fields);
}

void EMTimecode::setFF(int32_t ff) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    Fields fields = loadFields();
    fields.ff = ff;
    storeNormalised(fields);
}

void EMTimecode::setBits(uint32_t bits) {
    Fields fields = loadFields();
    fields.bits = static_cast<int32_t>(bits);
    storeNormalised(fields);
}

void EMTimecode::setFramerate(EMTimecodeFramerate framerate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    storeFramerate(framerate);
    storeNormalised(loadFields());
}

// ---- frames and seconds

int64_t EMTimecode::framesFromZero() const {
    const int64_t count = unsignedCount(hh(), mm(), ss(), ff(), framerate());
    return negative() ? saturatingNegate(count) : count;
}

void EMTimecode::setFramesFromZero(int64_t frames) {
    const bool isNegative = frames < 0;
    Fields fields = fieldsForCount(isNegative ? saturatingNegate(frames) : frames);
    fields.bits = bits_.load(std::memory_order_relaxed);
    negative_.store(isNegative, std::memory_order_relaxed);
    storeNormalised(fields);
}

EMTimecode::Fields EMTimecode::fieldsForCount(int64_t real) const {
    const EMTimecodeFramerate rate = framerate();
    int64_t nominal = real;
    if (rate.countsDropFrames()) {
        // Put back the two labels skipped in every minute except each tenth.
        const int64_t tens = real / 17982;
        const int64_t rest = real % 17982;
        const int64_t skipped = 18 * tens + (rest >= 2 ? 2 * ((rest - 2) / 1798) : 0);
        nominal = saturatingAdd(real, skipped);
    }
    const int64_t fps = divisorFps(rate);
    const int64_t seconds = nominal / fps;
    const int64_t minutes = seconds / 60;
    return {clampToInt32(minutes / 60), static_cast<int32_t>(minutes % 60),
            static_cast<int32_t>(seconds % 60), clampToInt32(nominal % fps), 0};
}

double EMTimecode::secondsFromZero() const {
    const EMTimecodeFramerate rate = framerate();
    // With `negative` the fields hold the magnitude, bits included, so the
    // sign applies to the whole of it.
    const double magnitude = (static_cast<double>(unsignedCount(hh(), mm(), ss(), ff(), rate)) +
                              static_cast<int32_t>(bits()) / static_cast<double>(kBitsPerFrame)) /
                             static_cast<double>(divisorFps(rate)) * speedFactor(rate);
    return negative() ? -magnitude : magnitude;
}

void EMTimecode::setSecondsFromZero(double seconds) {
    const EMTimecodeFramerate rate = framerate();
    double x = static_cast<double>(divisorFps(rate)) * seconds / speedFactor(rate);
    if (std::isnan(x)) x = 0.0;
    const bool isNegative = x < 0.0;
    // In eightieths of a frame. A value that a round trip through seconds has
    // left a rounding error short of a whole eightieth is taken as that
    // eightieth; otherwise the fraction is truncated.
    const double eightieths = std::fabs(x) * kBitsPerFrame;
    int64_t frames;
    int32_t bits;
    if (eightieths >= 9.2e18) {
        frames = kInt64Max / kBitsPerFrame;
        bits = 0;
    } else {
        auto total = static_cast<int64_t>(eightieths);
        const double shortfall = static_cast<double>(total + 1) - eightieths;
        if (shortfall <= 1e-12 * static_cast<double>(total + 1)) ++total;
        frames = total / kBitsPerFrame;
        bits = static_cast<int32_t>(total % kBitsPerFrame);
    }
    // As setting the frame count and then the bits, in one normalisation.
    Fields fields = fieldsForCount(frames);
    fields.bits = bits;
    negative_.store(isNegative && (frames != 0 || bits != 0), std::memory_order_relaxed);
    storeNormalised(fields);
}

int64_t EMTimecode::framesFromTimecode(const EMTimecode& other) const {
    return saturatingAdd(framesFromZero(), saturatingNegate(other.framesFromZero()));
}

double EMTimecode::secondsFromTimecode(const EMTimecode& other) const {
    return secondsFromZero() - other.secondsFromZero();
}

void EMTimecode::setFrames(int64_t frames, const EMTimecode& fromTimecode) {
    const int64_t count = fromTimecode.framesFromZero();
    const uint32_t bits = fromTimecode.bits();
    setFramesFromZero(saturatingAdd(count, frames));
    setBits(bits);
}

void EMTimecode::setSeconds(double seconds, const EMTimecode& fromTimecode) {
    setSecondsFromZero(fromTimecode.secondsFromZero() + seconds);
}

void EMTimecode::addFrames(int64_t frames) {
    setFramesFromZero(saturatingAdd(framesFromZero(), frames));
}

void EMTimecode::subtractFrames(int64_t frames) {
    setFramesFromZero(saturatingAdd(framesFromZero(), saturatingNegate(frames)));
}

void EMTimecode::addSeconds(double seconds) {
    setSecondsFromZero(secondsFromZero() + seconds);
}

void EMTimecode::subtractSeconds(double seconds) {
    setSecondsFromZero(secondsFromZero() - seconds);
}

void EMTimecode::convertFramerateTo(EMTimecodeFramerate framerate) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const double seconds = secondsFromZero();
    setFramerate(framerate);
    setSecondsFromZero(seconds);
}

void EMTimecode::convertFramerateFromReelStartTo(EMTimecodeFramerate framerate) {
    const int32_t hours = hh();
    setHH(0);
    const double seconds = secondsFromZero();
    setFramerate(framerate);
    setSecondsFromZero(seconds);
    setHH(hours);
}

MediaTime EMTimecode::cmTimeRelativeToTimecode(const EMTimecode& other) const {
    return {saturatingMultiply(framesFromTimecode(other), _timeScaleTicksPerFrame()), _timeScale()};
}

std::string EMTimecode::feetFramesRepresentation35mm() const {
    return feetFrames(framesFromZero(), 16);
}

std::string EMTimecode::feetFramesRepresentation16mm() const {
    return feetFrames(framesFromZero(), 40);
}

// ---- text

std::string EMTimecode::formatted(bool withBits, bool withFramerate) const {
    const Fields fields = loadFields();
    const EMTimecodeFramerate rate = framerate();
    TextBuffer out;
    out.appendInt(fields.hh);
    out.append(':');
    out.appendTwoDigits(fields.mm);
    out.append(':');
    out.appendTwoDigits(fields.ss);
    out.append(rate.frameSeparator());
    out.appendTwoDigits(fields.ff);
    if (withBits) {
        out.append('/');
        out.appendTwoDigits(fields.bits);
    }
    if (withFramerate) {
        out.append('@');
        out.append(rate.label());
    }
    return out.str();
}

std::string EMTimecode::stringRepresentation() const {
    return formatted(false, false);
}

std::string EMTimecode::stringRepresentationWithBits() const {
    return formatted(true, false);
}

std::string EMTimecode::stringRepresentationWithBitsAndFramerate() const {
    return formatted(true, true);
}

void EMTimecode::setStringRepresentation(std::string_view text) {
    if (text.empty()) return;
    size_t pos = 0;
    int64_t scanned = 0;
    Fields fields{0, 0, 0, 0, 0};
    if (textscan::scanInteger(text, pos, scanned)) fields.hh = clampToInt32(scanned);
    negative_.store(false, std::memory_order_relaxed);
    if (fields.hh > 100) {
        // Packed HHMMSSFF: 1000000 is 1:00:00:00 (while 100 is a hundred hours).
        const int32_t packed = fields.hh;
        fields = {packed / 1000000, (packed / 10000) % 100, (packed / 100) % 100, packed % 100, 0};
        storeNormalised(fields);
        return;
    }
    int32_t* const rest[] = {&fields.mm, &fields.ss, &fields.ff, &fields.bits};
    for (int32_t* field : rest) {
        if (pos >= text.size()) break;
        // Exactly one separator character, whatever it is.
        pos += textscan::characterLength(text, pos);
        if (pos >= text.size()) break;
        if (textscan::scanInteger(text, pos, scanned)) *field = clampToInt32(scanned);
    }
    storeNormalised(fields);
}

// ---- comparison

int EMTimecode::compare(const EMTimecode& other) const {
    const double mine = secondsFromZero();
    const double theirs = other.secondsFromZero();
    if (mine < theirs) return -1;
    if (mine > theirs) return 1;
    return 0;
}

bool EMTimecode::isEqual(const EMTimecode& other) const {
    if (this == &other) return true;
    // Field by field, the printed form "h:mm:ss;ff/bb@label" is the same text
    // exactly when all of these agree.
    const Fields a = loadFields();
    const Fields b = other.loadFields();
    const EMTimecodeFramerate rateA = framerate();
    const EMTimecodeFramerate rateB = other.framerate();
    return a.hh == b.hh && a.mm == b.mm && a.ss == b.ss && a.ff == b.ff && a.bits == b.bits &&
           rateA.dropFrame == rateB.dropFrame && std::strcmp(rateA.label(), rateB.label()) == 0;
}

// ---- archiving

void EMTimecode::encodeWithCoder(KeyedArchiver& coder) const {
    const Fields fields = loadFields();
    const EMTimecodeFramerate rate = framerate();
    coder.encodeInt(fields.hh, "EMTimecodeHH");
    coder.encodeInt(fields.mm, "EMTimecodeMM");
    coder.encodeInt(fields.ss, "EMTimecodeSS");
    coder.encodeInt(fields.ff, "EMTimecodeFF");
    coder.encodeInt(fields.bits, "EMTimecodeBits");
    coder.encodeInt(rate.fps, "EMTimecodeFramerate.fps");
    coder.encodeBool(rate.videoSpeed, "EMTimecodeFramerate.videoSpeed");
    coder.encodeBool(rate.dropFrame, "EMTimecodeFramerate.dropFrame");
}

std::shared_ptr<EMTimecode> EMTimecode::decodeWithCoder(KeyedUnarchiver& coder) {
    auto timecode = std::make_shared<EMTimecode>();
    int64_t fps = coder.decodeInt("EMTimecodeFramerate.fps");
    fps = std::clamp<int64_t>(fps, 0, std::numeric_limits<uint32_t>::max());
    timecode->storeFramerate(EMTimecodeFramerate{static_cast<uint32_t>(fps),
                                                 coder.decodeBool("EMTimecodeFramerate.videoSpeed"),
                                                 coder.decodeBool("EMTimecodeFramerate.dropFrame")});
    timecode->storeFields(
        {clampToInt32(coder.decodeInt("EMTimecodeHH")), clampToInt32(coder.decodeInt("EMTimecodeMM")),
         clampToInt32(coder.decodeInt("EMTimecodeSS")), clampToInt32(coder.decodeInt("EMTimecodeFF")),
         clampToInt32(coder.decodeInt("EMTimecodeBits"))});
    return timecode;
}

void EMTimecode::registerArchiveClass() {
    static std::once_flag once;
    std::call_once(once, [] {
        ArchiveClassRegistry::registerClass(
            "EMTimecode",
            [](KeyedUnarchiver& coder) -> std::shared_ptr<Archivable> { return decodeWithCoder(coder); });
    });
}

}  // namespace tollvane
