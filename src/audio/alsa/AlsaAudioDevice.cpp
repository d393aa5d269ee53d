#include "audio/alsa/AlsaAudioDevice.h"

#include <RtAudio.h>

#include <algorithm>
#include <exception>
#include <set>

#include "platform/AlsaLibraryMessages.h"
#include "platform/HostClock.h"
#include "platform/Log.h"

namespace tollvane {

namespace {

constexpr uint32_t kIDMask = 0x7fffffff;

// Set on RtAudio's thread the first time it calls us: RtAudio reports
// underruns through its error callback on that thread, where we may not log.
thread_local bool onAudioThread = false;
std::atomic<uint64_t> audioThreadWarnings{0};

// RtAudio's error callback carries no user data, so its reports are the process's, not a device's.
void reportRtAudioError(RtAudioError::Type type, const std::string& text) {
    if (onAudioThread) {
        audioThreadWarnings.fetch_add(1, std::memory_order_relaxed);
        return;
    }
    if (type == RtAudioError::DEBUG_WARNING) return;
    TLLog("ALSA audio: %s", text.c_str());
}

uint32_t nextCandidate(uint32_t id) {
    id = (id + 1) & kIDMask;
    return id == 0 ? 1 : id;
}

}  // namespace

AlsaAudioDevice::AlsaAudioDevice(uint32_t deviceID, Listing listing)
    : deviceID_(deviceID), listing_(std::move(listing)) {}

AlsaAudioDevice::~AlsaAudioDevice() {
    deviceStop();
}

uint32_t AlsaAudioDevice::deviceIDForName(const std::string& name) {
    // FNV-1a: stable across launches and builds, unlike std::hash.
    uint32_t hash = 2166136261u;
    for (const char c : name) {
        hash ^= static_cast<uint8_t>(c);
        hash *= 16777619u;
    }
    hash &= kIDMask;
    return hash == 0 ? 1 : hash;
}

std::vector<uint32_t> AlsaAudioDevice::deviceIDsForNames(const std::vector<std::string>& names,
                                                         const std::vector<uint32_t>& reserved) {
    std::set<uint32_t> taken(reserved.begin(), reserved.end());
    taken.insert(0);
    std::vector<uint32_t> ids;
    ids.reserve(names.size());
    for (const std::string& name : names) {
        uint32_t id = deviceIDForName(name);
        while (taken.count(id) != 0) id = nextCandidate(id);
        taken.insert(id);
        ids.push_back(id);
    }
    return ids;
}

double AlsaAudioDevice::chooseSampleRate(const std::vector<unsigned>& rates, unsigned preferred) {
    const auto offers = [&](unsigned rate) {
        return std::find(rates.begin(), rates.end(), rate) != rates.end();
    };
    if (preferred != 0 && (rates.empty() || offers(preferred))) return preferred;
    if (rates.empty() || offers(48000)) return 48000.0;
    if (offers(44100)) return 44100.0;
    return *std::max_element(rates.begin(), rates.end());
}

std::optional<std::string> AlsaAudioDevice::deviceName() const {
    if (!present_) return std::nullopt;
    return listing_.name;
}

uint32_t AlsaAudioDevice::channelsForDirection(MTCoreAudioDirection direction) const {
    if (direction != MTCoreAudioDirection::kOutput) return 0;
    return std::min(listing_.outputChannels, kMaxChannels);
}

double AlsaAudioDevice::sampleRate() const {
    return running_ ? streamRate_ : listing_.sampleRate;
}

AudioStreamBasicDescription AlsaAudioDevice::streamDescriptionForChannel(
    uint32_t channel, MTCoreAudioDirection direction) const {
    if (channel >= channelsForDirection(direction)) return {};
    return AudioStreamBasicDescription::linearFloat(sampleRate(), 1, true);
}

void AlsaAudioDevice::setIOProc(IOProc proc, void* clientData) {
    clientData_.store(clientData, std::memory_order_relaxed);
    proc_.store(proc, std::memory_order_release);
}

void AlsaAudioDevice::removeIOProc() {
    proc_.store(nullptr, std::memory_order_release);
    clientData_.store(nullptr, std::memory_order_relaxed);
}

void AlsaAudioDevice::update(const Listing& listing) {
    present_ = true;
    // A device we are playing on is busy and cannot be probed; keep what we knew.
    if (running_ && listing.outputChannels == 0) return;
    listing_ = listing;
}

bool AlsaAudioDevice::deviceStart() {
    if (running_) return true;
    if (!present_ || channelsForDirection(MTCoreAudioDirection::kOutput) == 0) return false;
    quietAlsaLibraryMessages();
    try {
        audio_ = std::make_unique<RtAudio>(RtAudio::LINUX_ALSA);
        audio_->showWarnings(false);
        // The listing's numbers may have moved since; find the device by name.
        const unsigned count = audio_->getDeviceCount();
        unsigned index = count;
        for (unsigned i = 0; i < count && index == count; ++i) {
            if (audio_->getDeviceInfo(i).name == listing_.name) index = i;
        }
        if (index == count) {
            TLLog("ALSA audio: the device \"%s\" is no longer there", listing_.name.c_str());
            present_ = false;
            audio_.reset();
            return false;
        }
        RtAudio::StreamParameters parameters;
        parameters.deviceId = index;
        parameters.nChannels = channelsForDirection(MTCoreAudioDirection::kOutput);
        const unsigned rate = listing_.sampleRate > 0.0 ? static_cast<unsigned>(listing_.sampleRate) : 48000;
        unsigned frames = kRequestedBufferFrames;
        RtAudio::StreamOptions options;
        options.flags = RTAUDIO_NONINTERLEAVED | RTAUDIO_SCHEDULE_REALTIME;
        options.priority = kRealtimePriority;
        options.streamName = "Tollvane";
        try {
            audio_->openStream(&parameters, nullptr, RTAUDIO_FLOAT32, rate, &frames,
                               &AlsaAudioDevice::callback, this, &options, &reportRtAudioError);
        } catch (const RtAudioError&) {
            // Without the right to real-time scheduling: an ordinary thread still plays.
            options.flags = RTAUDIO_NONINTERLEAVED;
            frames = kRequestedBufferFrames;
            audio_ = std::make_unique<RtAudio>(RtAudio::LINUX_ALSA);
            audio_->showWarnings(false);
            audio_->openStream(&parameters, nullptr, RTAUDIO_FLOAT32, rate, &frames,
                               &AlsaAudioDevice::callback, this, &options, &reportRtAudioError);
        }
        streamChannels_ = parameters.nChannels;
        bufferFrames_ = frames;
        streamRate_ = static_cast<double>(audio_->getStreamSampleRate());
        buffers_.assign(streamChannels_, AudioBuffer{1, 0, nullptr});
        clock_.reset(streamRate_);
        underruns_.store(0, std::memory_order_relaxed);
        audio_->startStream();
        if (!audio_->isStreamRunning()) {
            closeStream();
            return false;
        }
    } catch (const std::exception& error) {
        TLLog("ALSA audio: %s", error.what());
        closeStream();
        return false;
    }
    running_ = true;
    return true;
}

void AlsaAudioDevice::closeStream() {
    if (!audio_) return;
    try {
        // Joins RtAudio's thread: no callback runs once this returns.
        if (audio_->isStreamOpen()) audio_->closeStream();
    } catch (const std::exception& error) {
        TLLog("ALSA audio: %s", error.what());
    }
    audio_.reset();
}

void AlsaAudioDevice::deviceStop() {
    if (!running_) return;
    running_ = false;
    closeStream();
    const uint64_t underruns = underruns_.exchange(0, std::memory_order_relaxed);
    const uint64_t warnings = audioThreadWarnings.exchange(0, std::memory_order_relaxed);
    if (underruns != 0 || warnings != 0) {
        TLLog("ALSA audio: \"%s\" ran short of samples %llu times (%llu warnings)", listing_.name.c_str(),
              static_cast<unsigned long long>(underruns), static_cast<unsigned long long>(warnings));
    }
}

long AlsaAudioDevice::outputLatencyFrames() const {
    if (!running_ || !audio_) return 0;
    try {
        return audio_->getStreamLatency();
    } catch (const std::exception&) {
        return 0;
    }
}

int AlsaAudioDevice::callback(void* output, void*, unsigned frames, double, unsigned status, void* userData) {
    onAudioThread = true;
    auto* self = static_cast<AlsaAudioDevice*>(userData);
    const uint64_t reading = HostClock::shared().now();
    if ((status & RTAUDIO_OUTPUT_UNDERFLOW) != 0) {
        // The frame count no longer follows the card after a gap; start the loop again.
        self->underruns_.fetch_add(1, std::memory_order_relaxed);
        self->clock_.reset(self->streamRate_);
    }
    const uint64_t now = self->clock_.cycle(reading, frames);
    auto* samples = static_cast<float*>(output);
    for (size_t channel = 0; channel < self->buffers_.size(); ++channel) {
        AudioBuffer& buffer = self->buffers_[channel];
        buffer.data = samples + channel * frames;
        buffer.dataByteSize = frames * static_cast<uint32_t>(sizeof(float));
    }
    const IOProc proc = self->proc_.load(std::memory_order_acquire);
    if (proc == nullptr) {
        std::fill(samples, samples + size_t{frames} * self->buffers_.size(), 0.0f);
        return 0;
    }
    proc(self->buffers_, frames, now, self->clientData_.load(std::memory_order_relaxed));
    return 0;
}

}  // namespace tollvane
