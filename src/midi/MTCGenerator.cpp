#include "midi/MTCGenerator.h"

#include <cmath>

namespace tollvane {

namespace {

constexpr uint64_t kNanosecondsPerSecond = 1'000'000'000;
// Real frames in ten minutes of 30 fps drop frame, and in one of its
// dropping minutes.
constexpr int64_t kTenMinutesReal = 17982;
constexpr int64_t kMinuteReal = 1798;

}  // namespace

uint8_t MTCGenerator::rateCode(const EMTimecodeFramerate& framerate) {
    switch (framerate.fps) {
        case 24:
            return 0;
        case 25:
            return 1;
        default:
            return framerate.countsDropFrames() ? 2 : 3;
    }
}

MTCGenerator::MTCGenerator(const EMTimecodeFramerate& framerate, int64_t startFrame, uint32_t sampleRate)
    : framerate_(framerate), startFrame_(startFrame < 0 ? 0 : startFrame), sampleRate_(sampleRate) {
    if (framerate_.fps < 2) framerate_ = EMTimecodeFramerate::framerateForIndex(4);
}

// Four quarter frames a frame; at video speed a frame lasts 1001/1000 of
// its nominal length.
uint64_t MTCGenerator::numerator() const {
    return uint64_t{sampleRate_} * (framerate_.videoSpeed ? 1001u : 1000u);
}

uint64_t MTCGenerator::denominator() const {
    return uint64_t{4} * framerate_.fps * 1000u;
}

// Whole periods of `den` quarter frames first, so that the products stay
// far from overflow however long a run lasts.
uint64_t MTCGenerator::sampleOffset(uint64_t k) const {
    const uint64_t den = denominator();
    return k / den * numerator() + ((k % den) * numerator() * 2 + den) / (2 * den);
}

uint64_t MTCGenerator::nanosecondsOffset(uint64_t k) const {
    const uint64_t den = denominator();
    const uint64_t perPeriod = (framerate_.videoSpeed ? 1001u : 1000u) * kNanosecondsPerSecond;
    return k / den * perPeriod + ((k % den) * perPeriod * 2 + den) / (2 * den);
}

uint64_t MTCGenerator::firstAtOrAfter(uint64_t sample) const {
    if (sampleRate_ == 0) return 0;
    // Estimate, then step to the exact answer of the rounding above.
    uint64_t k = sample * denominator() / numerator();
    while (k > 0 && sampleOffset(k - 1) >= sample) --k;
    while (sampleOffset(k) < sample) ++k;
    return k;
}

uint64_t MTCGenerator::countWithin(double seconds) const {
    if (!(seconds > 0)) return 0;
    const double perSecond = 4.0 * framerate_.fps / (framerate_.videoSpeed ? 1.001 : 1.0);
    auto count = static_cast<uint64_t>(std::ceil(seconds * perSecond - 1e-9));
    return count;
}

MTCGenerator::Labels MTCGenerator::labelsForFrame(int64_t frame) const {
    if (frame < 0) frame = 0;
    int64_t nominal = frame;
    if (framerate_.countsDropFrames()) {
        // Two labels are skipped in every minute but each tenth.
        const int64_t tens = frame / kTenMinutesReal;
        const int64_t rest = frame % kTenMinutesReal;
        nominal = frame + 18 * tens + (rest >= 2 ? 2 * ((rest - 2) / kMinuteReal) : 0);
    }
    const int64_t fps = framerate_.fps;
    const int64_t seconds = nominal / fps;
    return {static_cast<uint32_t>(seconds / 3600), static_cast<uint32_t>((seconds / 60) % 60),
            static_cast<uint32_t>(seconds % 60), static_cast<uint32_t>(nominal % fps)};
}

uint8_t MTCGenerator::quarterFrameData(uint64_t k) const {
    const auto piece = static_cast<uint8_t>(k % 8);
    const Labels labels = cycleLabels(k / 8);
    uint32_t nibble = 0;
    switch (piece) {
        case 0:
            nibble = labels.ff & 0x0F;
            break;
        case 1:
            nibble = (labels.ff >> 4) & 0x01;
            break;
        case 2:
            nibble = labels.ss & 0x0F;
            break;
        case 3:
            nibble = (labels.ss >> 4) & 0x03;
            break;
        case 4:
            nibble = labels.mm & 0x0F;
            break;
        case 5:
            nibble = (labels.mm >> 4) & 0x03;
            break;
        case 6:
            nibble = (labels.hh % 24) & 0x0F;
            break;
        default:
            nibble = (((labels.hh % 24) >> 4) & 0x01) | (uint32_t{rateCode(framerate_)} << 1);
            break;
    }
    return static_cast<uint8_t>(piece << 4 | nibble);
}

std::array<uint8_t, 10> MTCGenerator::fullFrame() const {
    const Labels labels = labelsForFrame(startFrame_);
    return {0xF0,
            0x7F,
            0x7F,
            0x01,
            0x01,
            static_cast<uint8_t>(uint32_t{rateCode(framerate_)} << 5 | (labels.hh % 24)),
            static_cast<uint8_t>(labels.mm),
            static_cast<uint8_t>(labels.ss),
            static_cast<uint8_t>(labels.ff),
            0xF7};
}

}  // namespace tollvane
