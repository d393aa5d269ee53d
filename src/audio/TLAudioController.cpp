#include "audio/TLAudioController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "platform/HostClock.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

namespace tollvane {

namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kClickUnitsPerSecond = 1333.3333333333335;  // units of 0.75 ms
constexpr double kBeepRamp = 0.002;
constexpr double kWarningPollInterval = 0.25;

constexpr const char* kBeepLevelKey = "warningBeepLevel";
constexpr const char* kBeepPitchKey = "warningBeepPitch";
constexpr const char* kClickLevelKey = "clickLevel";
constexpr const char* kDeviceKey = "TLAudioOutputDevice";
constexpr const char* kChannelKey = "TLAudioOutputChannel";
constexpr const char* kStereoKey = "TLAudioOutputStereo";
constexpr float kDefaultLevel = 0.84f;
constexpr float kDefaultPitch = 1000.0f;

std::atomic<double> sharedNoisePhase{0.0};

// The click at u (units of 0.75 ms, 0 <= u < 20) with the noise value n.
double clickShape(double u, double a, double n) {
    if (u < 0.1) return 2.0 * u * (a * n);
    if (u < 1.1) {
        const double d = (u - 0.6) * (u - 0.6);
        return a * (2.0 * n * (d * d) + 1.0);
    }
    return ((20.0 - u) / 20.0) * a * (-1.0 / (u + 3.5) + (0.1 / (u - 0.8)) * n);
}

// A sine carried from sample to sample by rotation, so that a sounding slot
// costs a few multiplications rather than a sine per sample. It is set from
// the exact sine at the first sample of each buffer, so rounding never
// builds up beyond one buffer's worth (far below a float's resolution).
struct Rotor {
    double s = 0.0;
    double c = 1.0;
    void set(double phase) {
        s = std::sin(phase);
        c = std::cos(phase);
    }
    void rotate(double stepSin, double stepCos) {
        const double next = s * stepCos + c * stepSin;
        c = c * stepCos - s * stepSin;
        s = next;
    }
};

float floatDefault(const UserDefaults& defaults, const char* key, float fallback) {
    return defaults.objectForKey(key).isNull() ? fallback : defaults.floatForKey(key);
}

}  // namespace

TLAudioController::TLAudioController(UserDefaults& defaults, MTCoreAudioDeviceLayer& layer)
    : defaults_(defaults), layer_(layer) {
    for (auto& beep : beeps_) beep.store(kFreeBeep, std::memory_order_relaxed);
    for (auto& click : clicks_) click.store(kFreeClick, std::memory_order_relaxed);
    for (auto& pending : clicksToAdd_) pending.store(0, std::memory_order_relaxed);
    bindLevels();
}

TLAudioController::~TLAudioController() {
    stop();
    for (auto token : observers_) defaults_.removeObserver(token);
}

void TLAudioController::bindLevels() {
    auto update = [this](const std::string&) {
        setWarningBeepVolume(floatDefault(defaults_, kBeepLevelKey, kDefaultLevel));
        setWarningBeepPitch(floatDefault(defaults_, kBeepPitchKey, kDefaultPitch));
        setClickVolume(floatDefault(defaults_, kClickLevelKey, kDefaultLevel));
    };
    update({});
    for (const char* key : {kBeepLevelKey, kBeepPitchKey, kClickLevelKey}) {
        observers_.push_back(defaults_.addObserver(key, update));
    }
}

// --- Output ---------------------------------------------------------------------------

void TLAudioController::startFromDefaults() {
    const auto deviceID = static_cast<uint32_t>(defaults_.integerForKey(kDeviceKey));
    std::shared_ptr<MTCoreAudioDevice> device;
    if (deviceID != 0) {
        device = layer_.deviceWithID(deviceID);
        if (device && !device->deviceName()) device = nullptr;
    }
    if (device) {
        startOnDevice(device, static_cast<int>(defaults_.integerForKey(kChannelKey)),
                      defaults_.boolForKey(kStereoKey));
    } else {
        startOnDevice(layer_.defaultOutputDevice(), 0, true);
    }
    resetAudioPopupSelection();
}

void TLAudioController::startOnDevice(std::shared_ptr<MTCoreAudioDevice> device, int channel, bool stereo) {
    stop();
    outDevice_ = std::move(device);
    outChannel_ = channel;
    outStereo_ = stereo;
    startOnCurrentDevice();
}

void TLAudioController::startOnCurrentDevice() {
    if (!outDevice_ || outChannel_ < 0) {
        const std::string name = outDevice_ ? outDevice_->deviceName().value_or("(null)") : "(null)";
        TLLog("Unable to start audio controller; invalid device %s channel %d", name.c_str(), outChannel_);
        return;
    }
    if (outStereo_ && outChannel_ % 2 == 1) --outChannel_;
    deviceDescription_ = outDevice_->streamDescriptionForChannel(static_cast<uint32_t>(outChannel_),
                                                                 MTCoreAudioDirection::kOutput);
    sampleRate_.store(deviceDescription_.mSampleRate, std::memory_order_release);
    outDevice_->setIOProc(&TLAudioController::ioProc, this);
    if (!outDevice_->deviceStart()) {
        TLLog("Couldn't start audio device %s (id %d).", outDevice_->deviceName().value_or("(null)").c_str(),
              static_cast<int>(outDevice_->deviceID()));
    }
    if (RunLoop* loop = RunLoop::mainIfInstalled(); loop && !warningTimer_) {
        warningTimer_ = loop->scheduleTimer(kWarningPollInterval, true, [this] { logPendingWarnings(); });
    }
}

void TLAudioController::stop() {
    if (warningTimer_) {
        warningTimer_->invalidate();
        warningTimer_.reset();
    }
    if (!outDevice_) return;
    outDevice_->deviceStop();
    outDevice_->removeIOProc();
    outDevice_.reset();
    logPendingWarnings();
}

void TLAudioController::populateAudioOutputs() {
    audioOutputMenu_.populate(layer_);
}

void TLAudioController::setAudioOutputWithUnspecifiedChannel(const MenuItemPath& item) {
    chooseAudioOutput(item);
}

void TLAudioController::setAudioOutput(const MenuItemPath& item) {
    chooseAudioOutput(item);
}

void TLAudioController::chooseAudioOutput(const MenuItemPath& item) {
    const std::optional<AudioOutputMenu::Output> output = audioOutputMenu_.outputForItem(item);
    if (!output) return;
    auto device =
        output->deviceID == 0 ? layer_.defaultOutputDevice() : layer_.deviceWithID(output->deviceID);
    startOnDevice(std::move(device), output->channel, output->stereo);
    resetAudioPopupSelection();
}

void TLAudioController::resetAudioPopupSelection() {
    audioOutputMenu_.checkOutput(
        AudioOutputMenu::Output{outDevice_ ? outDevice_->deviceID() : 0, outChannel_, outStereo_});
    audioOutputMenu_.setTitle(audioOutputDescription());
    defaults_.setInteger(kDeviceKey, outDevice_ ? outDevice_->deviceID() : 0);
    defaults_.setInteger(kChannelKey, outChannel_);
    defaults_.setBool(kStereoKey, outStereo_);
}

std::string TLAudioController::audioOutputDescription() const {
    const std::string name = outDevice_ ? outDevice_->deviceName().value_or("(null)") : "(null)";
    char text[64];
    if (outStereo_) {
        std::snprintf(text, sizeof text, ", outputs %d-%d", outChannel_ + 1, outChannel_ + 2);
    } else {
        std::snprintf(text, sizeof text, ", output %d", outChannel_ + 1);
    }
    return name + text;
}

// --- Scheduling and triggering ----------------------------------------------------------

bool TLAudioController::claimSlot(std::atomic<double>& slot, double freeFrom, double value) {
    // The callback may advance a free slot between the load and the exchange;
    // it stays free, so try again.
    double seen = slot.load(std::memory_order_acquire);
    while (seen >= freeFrom) {
        if (slot.compare_exchange_weak(seen, value, std::memory_order_acq_rel)) return true;
    }
    return false;
}

void TLAudioController::addClickAtHostTime(uint64_t hostTime) {
    // 0 marks an empty entry, so a click at host time 0 cannot be told apart;
    // it is long past on any running machine.
    if (hostTime == 0) return;
    for (auto& pending : clicksToAdd_) {
        uint64_t empty = 0;
        if (pending.compare_exchange_strong(empty, hostTime, std::memory_order_release,
                                            std::memory_order_relaxed)) {
            return;
        }
    }
}

void TLAudioController::removeAllScheduledClicks() {
    for (auto& click : clicks_) click.store(kFreeClick, std::memory_order_release);
    for (auto& pending : clicksToAdd_) pending.store(0, std::memory_order_release);
}

void TLAudioController::triggerSingleClick() {
    for (auto& click : clicks_) {
        if (claimSlot(click, kClickLength, 0.0)) return;
    }
}

int TLAudioController::claimFreeBeepSlot(double value) {
    for (int i = 0; i < kSlotCount; ++i) {
        if (claimSlot(beeps_[i], kBeepLength, value)) return i;
    }
    TLLog("Warning: maximum number of scheduled warning beeps (%d) exceeded.", kSlotCount);
    return -1;
}

void TLAudioController::triggerSingleBeep() {
    claimFreeBeepSlot(0.0);
}

void TLAudioController::triggerBeepsWithTotalTime(double totalTime, int count) {
    if (count <= 0) return;
    const double spacing = totalTime / count;
    if (count >= 2 && defaults_.boolForKey("avoidOverlappingBeeps")) {
        for (const auto& beep : beeps_) {
            if (beep.load(std::memory_order_acquire) < spacing) return;
        }
    }
    for (int i = 0; i < count; ++i) {
        if (claimFreeBeepSlot(-(i * spacing)) < 0) return;
    }
}

void TLAudioController::triggerADRBeepsWithSpacing(double spacing) {
    for (const auto& beep : beeps_) {
        if (beep.load(std::memory_order_acquire) < kBeepLength) return;
    }
    for (int i = 0; i < 3; ++i) {
        if (claimFreeBeepSlot(-(i * spacing)) < 0) return;
    }
}

std::vector<float> TLAudioController::createClickSampleAtSampleRate(double sampleRate, uint64_t* length) {
    const double exact = kClickLength * sampleRate;
    const uint64_t count = std::isfinite(exact) && exact > 0.0 ? static_cast<uint64_t>(exact) : 0;
    std::vector<float> samples(count);
    const float volume = clickVolume();
    double phase = sharedNoisePhase.load(std::memory_order_relaxed);
    for (uint64_t j = 0; j < count; ++j) {
        samples[j] = clickSample(static_cast<double>(j) / sampleRate, volume, phase);
    }
    sharedNoisePhase.store(phase, std::memory_order_relaxed);
    if (length) *length = count;
    return samples;
}

// --- Levels -------------------------------------------------------------------------------

void TLAudioController::setWarningBeepVolume(float level) {
    warningBeepVolume_.store(level * level, std::memory_order_relaxed);
}

void TLAudioController::setWarningBeepPitch(float pitch) {
    warningBeepPitch_.store(pitch, std::memory_order_relaxed);
}

void TLAudioController::setClickVolume(float level) {
    clickVolume_.store(level * level, std::memory_order_relaxed);
}

// --- Waveforms ------------------------------------------------------------------------------

float TLAudioController::beepSample(double t, float volume, float pitch) {
    if (t < 0.0 || t > kBeepLength) return 0.0f;
    double sample = volume * std::sin(kTwoPi * pitch * t);
    if (t < kBeepRamp) sample *= 500.0 * t;
    if (t > kBeepLength - kBeepRamp) sample *= 500.0 * (kBeepLength - t);
    return static_cast<float>(sample);
}

float TLAudioController::clickSample(double t, float volume, double& noisePhase) {
    const double u = t * kClickUnitsPerSecond;
    if (!(u >= 0.0 && u < 20.0)) return 0.0f;
    noisePhase += 3.0;
    while (noisePhase > kTwoPi) noisePhase -= kTwoPi;
    return clickShape(u, volume, std::sin(noisePhase));
}

double TLAudioController::noisePhase() {
    return sharedNoisePhase.load(std::memory_order_relaxed);
}

void TLAudioController::setNoisePhase(double phase) {
    sharedNoisePhase.store(phase, std::memory_order_relaxed);
}

// --- The callback ---------------------------------------------------------------------------

int TLAudioController::ioProc(std::span<AudioBuffer> outputs, uint32_t frames, uint64_t now,
                              void* clientData) {
    auto* controller = static_cast<TLAudioController*>(clientData);
    uint32_t floatCount = 0;
    int64_t remaining = controller->outChannel_;
    for (const AudioBuffer& buffer : outputs) {
        if (remaining < buffer.numberChannels) {
            floatCount = buffer.dataByteSize / sizeof(float);
            break;
        }
        remaining -= buffer.numberChannels;
    }
    return controller->render(outputs, frames, controller->sampleRate_.load(std::memory_order_acquire), now,
                              outputAllowance(floatCount));
}

int TLAudioController::render(std::span<AudioBuffer> buffers, uint32_t frames, double sampleRate,
                              uint64_t now, double allowance) {
    for (AudioBuffer& buffer : buffers) {
        if (buffer.data) std::fill_n(buffer.data, buffer.dataByteSize / sizeof(float), 0.0f);
    }

    size_t bufferIndex = 0;
    int64_t c = outChannel_;
    while (bufferIndex < buffers.size() && c >= buffers[bufferIndex].numberChannels) {
        c -= buffers[bufferIndex].numberChannels;
        ++bufferIndex;
    }
    // A device without a format has no sample rate to advance the slots by.
    if (c < 0 || bufferIndex == buffers.size() || !buffers[bufferIndex].data || !(sampleRate > 0.0)) {
        return kStatusChannelNotFound;
    }
    AudioBuffer& out = buffers[bufferIndex];
    const uint32_t k = out.numberChannels;
    // The buffer's byte size, but never beyond the frames the device asked for.
    const size_t m = std::min<size_t>(out.dataByteSize / sizeof(float), static_cast<size_t>(frames) * k);
    const double dt = 1.0 / sampleRate;

    // A stereo pair whose second channel starts the next buffer.
    AudioBuffer* pairBuffer = nullptr;
    if (outStereo_ && c + 1 >= k && bufferIndex + 1 < buffers.size() && buffers[bufferIndex + 1].data &&
        buffers[bufferIndex + 1].numberChannels > 0) {
        pairBuffer = &buffers[bufferIndex + 1];
    }

    // A pending click takes its slot in the buffer it starts in, placed by
    // that buffer's own time. Placed earlier, it would be carried there by
    // sample counts alone: the device clock's drift from host time, a cycle
    // the device skipped or one that read a neighbouring cycle's time would
    // all move it, by up to a buffer, though the clicks are handed over
    // a beat or more ahead.
    const double bufferSeconds = static_cast<double>(m / k) * dt;
    for (auto& pending : clicksToAdd_) {
        const uint64_t hostTime = pending.load(std::memory_order_acquire);
        if (hostTime == 0) continue;
        const double value = allowance - HostClock::secondsBetween(now, hostTime);
        if (value + bufferSeconds <= 0.0) continue;
        bool placed = false;
        for (auto& click : clicks_) {
            if (claimSlot(click, kClickLength, value)) {
                placed = true;
                break;
            }
        }
        if (!placed) {
            clickOverflow_.store(true, std::memory_order_release);
            break;
        }
        // Only the callback empties an entry it has placed; a concurrent
        // removeAllScheduledClicks() may already have emptied it.
        uint64_t expected = hostTime;
        pending.compare_exchange_strong(expected, 0, std::memory_order_acq_rel);
    }

    // The slots advance in locals and are published once per buffer; a
    // trigger or a removal that lands meanwhile wins over this buffer's
    // advance.
    std::array<double, kSlotCount> beepStart;
    std::array<double, kSlotCount> beeps;
    std::array<double, kSlotCount> clickStart;
    std::array<double, kSlotCount> clicks;
    for (int s = 0; s < kSlotCount; ++s) {
        beeps[s] = beepStart[s] = beeps_[s].load(std::memory_order_acquire);
        clicks[s] = clickStart[s] = clicks_[s].load(std::memory_order_acquire);
    }
    const float beepVolume = warningBeepVolume();
    const float beepPitch = warningBeepPitch();
    const float volume = clickVolume();
    double phase = sharedNoisePhase.load(std::memory_order_relaxed);
    Rotor noise;
    noise.set(phase);
    static const double kNoiseStepSin = std::sin(3.0);
    static const double kNoiseStepCos = std::cos(3.0);
    const double beepStep = kTwoPi * beepPitch * dt;
    const double beepStepSin = std::sin(beepStep);
    const double beepStepCos = std::cos(beepStep);
    std::array<Rotor, kSlotCount> tones;
    std::array<bool, kSlotCount> toneSet{};

    const size_t pairStride = pairBuffer ? pairBuffer->numberChannels : 0;
    const size_t pairSize = pairBuffer ? pairBuffer->dataByteSize / sizeof(float) : 0;
    for (size_t i = 0; i < m; i += k) {
        float sample = 0.0f;
        for (int s = 0; s < kSlotCount; ++s) {
            const double t = (beeps[s] += dt);
            if (t < 0.0 || t > kBeepLength) {
                toneSet[s] = false;
                continue;
            }
            if (toneSet[s]) {
                tones[s].rotate(beepStepSin, beepStepCos);
            } else {
                tones[s].set(kTwoPi * beepPitch * t);
                toneSet[s] = true;
            }
            double beep = beepVolume * tones[s].s;
            if (t < kBeepRamp) beep *= 500.0 * t;
            if (t > kBeepLength - kBeepRamp) beep *= 500.0 * (kBeepLength - t);
            sample += static_cast<float>(beep);
        }
        for (double& click : clicks) {
            click += dt;
            if (click > kClickLength) continue;
            const double u = click * kClickUnitsPerSecond;
            if (!(u >= 0.0 && u < 20.0)) continue;
            phase += 3.0;
            while (phase > kTwoPi) phase -= kTwoPi;
            noise.rotate(kNoiseStepSin, kNoiseStepCos);
            sample += static_cast<float>(clickShape(u, volume, noise.s));
        }
        if (i + c < m) out.data[i + c] = static_cast<float>(sample);
        if (outStereo_) {
            if (pairBuffer) {
                const size_t index = (i / k) * pairStride;
                if (index < pairSize) pairBuffer->data[index] = static_cast<float>(sample);
            } else if (i + c + 1 < m) {
                out.data[i + c + 1] = static_cast<float>(sample);
            }
        }
    }

    sharedNoisePhase.store(phase, std::memory_order_relaxed);
    for (int s = 0; s < kSlotCount; ++s) {
        double expected = beepStart[s];
        beeps_[s].compare_exchange_strong(expected, beeps[s], std::memory_order_acq_rel);
        expected = clickStart[s];
        clicks_[s].compare_exchange_strong(expected, clicks[s], std::memory_order_acq_rel);
    }
    return kStatusOK;
}

void TLAudioController::logPendingWarnings() {
    if (clickOverflow_.exchange(false, std::memory_order_acq_rel)) {
        TLLog("Warning: maximum number of scheduled clicks (%d) exceeded.", kSlotCount);
    }
}

}  // namespace tollvane
