#include "audio/jack/JackAudioDevice.h"

#include <jack/types.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>

namespace tollvane {

namespace {

// Two readings of one clock taken this close together agree to within the
// time between them; anything beyond this is a different clock.
constexpr int64_t kSameClockTolerance = 1'000'000;
// Scatter of one offset reading on a loaded machine; a tenth of a frame at
// 192 kHz would be finer than we can measure, half a frame at 48 kHz is not.
constexpr int64_t kOffsetScatter = 10'000;

void quiet(const char*) {}

void printError(const char* message) {
    std::fprintf(stderr, "JACK: %s\n", message);
}

uint64_t monotonicNanos() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1'000'000'000u + static_cast<uint64_t>(now.tv_nsec);
}

std::vector<std::string> physicalPlaybackPorts(jack_client_t* client) {
    std::vector<std::string> names;
    const char** ports =
        jack_get_ports(client, nullptr, JACK_DEFAULT_AUDIO_TYPE, JackPortIsPhysical | JackPortIsInput);
    if (!ports) return names;
    for (const char** port = ports; *port; ++port) names.emplace_back(*port);
    jack_free(ports);
    return names;
}

}  // namespace

std::shared_ptr<JackAudioDevice> JackAudioDevice::open(const std::string& serverName,
                                                       const std::string& clientName) {
    // A missing server is an ordinary answer here, not an error to print.
    jack_set_error_function(quiet);
    jack_status_t status{};
    const int options = JackNoStartServer | (serverName.empty() ? 0 : JackServerName);
    jack_client_t* client =
        serverName.empty()
            ? jack_client_open(clientName.c_str(), static_cast<jack_options_t>(options), &status)
            : jack_client_open(clientName.c_str(), static_cast<jack_options_t>(options), &status,
                               serverName.c_str());
    jack_set_error_function(printError);
    if (!client) return nullptr;
    std::string name = serverName;
    if (name.empty()) {
        const char* fromEnvironment = std::getenv("JACK_DEFAULT_SERVER");
        name = fromEnvironment && *fromEnvironment ? fromEnvironment : "default";
    }
    std::shared_ptr<JackAudioDevice> device(new JackAudioDevice(client, std::move(name)));
    if (!device->registerPorts()) return nullptr;
    return device;
}

JackAudioDevice::JackAudioDevice(jack_client_t* client, std::string serverName)
    : client_(client), serverName_(std::move(serverName)) {
    playbackPorts_ = physicalPlaybackPorts(client_);
    refreshClockOffset();
    jack_set_process_callback(client_, &JackAudioDevice::process, this);
    jack_on_shutdown(client_, &JackAudioDevice::shutdown, this);
}

JackAudioDevice::~JackAudioDevice() {
    deviceStop();
    jack_client_close(client_);
}

bool JackAudioDevice::registerPorts() {
    ports_.reserve(playbackPorts_.size());
    for (size_t i = 0; i < playbackPorts_.size(); ++i) {
        const std::string name = "out_" + std::to_string(i + 1);
        jack_port_t* port =
            jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput, 0);
        if (!port) return false;
        ports_.push_back(port);
    }
    buffers_.assign(ports_.size(), AudioBuffer{1, 0, nullptr});
    return true;
}

int64_t JackAudioDevice::measureClockOffset() const {
    // The reading taken in the shortest window is the one least disturbed.
    int64_t best = 0;
    uint64_t narrowest = std::numeric_limits<uint64_t>::max();
    for (int i = 0; i < 8; ++i) {
        const uint64_t before = monotonicNanos();
        const jack_time_t jack = jack_get_time();
        const uint64_t after = monotonicNanos();
        if (after - before < narrowest) {
            narrowest = after - before;
            best = static_cast<int64_t>(before + (after - before) / 2) - static_cast<int64_t>(jack) * 1000;
        }
    }
    return best;
}

void JackAudioDevice::refreshClockOffset() {
    const int64_t current = clockOffset_.load(std::memory_order_relaxed);
    clockOffset_.store(settledClockOffset(current, chooseClockOffset(measureClockOffset())),
                       std::memory_order_relaxed);
}

void JackAudioDevice::startClockWatch() {
    {
        std::lock_guard lock(clockWatchMutex_);
        clockWatchStop_ = false;
    }
    clockWatch_ = std::thread([this] {
        std::unique_lock lock(clockWatchMutex_);
        while (!clockWatchWake_.wait_for(lock, std::chrono::seconds(1), [this] { return clockWatchStop_; })) {
            refreshClockOffset();
        }
    });
}

void JackAudioDevice::stopClockWatch() {
    {
        std::lock_guard lock(clockWatchMutex_);
        clockWatchStop_ = true;
    }
    clockWatchWake_.notify_all();
    if (clockWatch_.joinable()) clockWatch_.join();
}

int64_t JackAudioDevice::chooseClockOffset(int64_t measured) {
    return (measured > -kSameClockTolerance && measured < kSameClockTolerance) ? 0 : measured;
}

int64_t JackAudioDevice::settledClockOffset(int64_t current, int64_t candidate) {
    return std::llabs(candidate - current) <= kOffsetScatter ? current : candidate;
}

std::optional<std::string> JackAudioDevice::deviceName() const {
    if (serverGone_.load(std::memory_order_acquire)) return std::nullopt;
    return "JACK (" + serverName_ + ")";
}

uint32_t JackAudioDevice::channelsForDirection(MTCoreAudioDirection direction) const {
    return direction == MTCoreAudioDirection::kOutput ? static_cast<uint32_t>(ports_.size()) : 0;
}

AudioStreamBasicDescription JackAudioDevice::streamDescriptionForChannel(
    uint32_t channel, MTCoreAudioDirection direction) const {
    if (direction != MTCoreAudioDirection::kOutput || channel >= ports_.size()) return {};
    return AudioStreamBasicDescription::linearFloat(sampleRate(), 1, true);
}

void JackAudioDevice::setIOProc(IOProc proc, void* clientData) {
    clientData_.store(clientData, std::memory_order_relaxed);
    proc_.store(proc, std::memory_order_release);
}

void JackAudioDevice::removeIOProc() {
    proc_.store(nullptr, std::memory_order_release);
    clientData_.store(nullptr, std::memory_order_relaxed);
}

bool JackAudioDevice::deviceStart() {
    if (running_) return true;
    if (serverGone_.load(std::memory_order_acquire)) return false;
    refreshClockOffset();
    if (jack_activate(client_) != 0) return false;
    running_ = true;
    startClockWatch();
    for (size_t i = 0; i < ports_.size(); ++i) {
        // An existing connection (EEXIST) is as good as a new one.
        jack_connect(client_, jack_port_name(ports_[i]), playbackPorts_[i].c_str());
    }
    return true;
}

void JackAudioDevice::deviceStop() {
    if (!running_) return;
    running_ = false;
    stopClockWatch();
    // Returns once the process thread has left our callback.
    if (!serverGone_.load(std::memory_order_acquire)) jack_deactivate(client_);
}

double JackAudioDevice::sampleRate() const {
    return static_cast<double>(jack_get_sample_rate(client_));
}

uint32_t JackAudioDevice::bufferFrames() const {
    return jack_get_buffer_size(client_);
}

JackAudioDevice::LatencyRange JackAudioDevice::outputLatency(uint32_t channel) const {
    if (channel >= playbackPorts_.size()) return {};
    jack_port_t* port = jack_port_by_name(client_, playbackPorts_[channel].c_str());
    if (!port) return {};
    jack_latency_range_t range{};
    jack_port_get_latency_range(port, JackPlaybackLatency, &range);
    return {range.min, range.max};
}

std::vector<std::string> JackAudioDevice::outputPortNames() const {
    std::vector<std::string> names;
    for (jack_port_t* port : ports_) names.emplace_back(jack_port_name(port));
    return names;
}

int JackAudioDevice::process(jack_nframes_t frames, void* arg) {
    auto* self = static_cast<JackAudioDevice*>(arg);
    for (size_t i = 0; i < self->ports_.size(); ++i) {
        AudioBuffer& buffer = self->buffers_[i];
        buffer.data = static_cast<float*>(jack_port_get_buffer(self->ports_[i], frames));
        buffer.dataByteSize = frames * static_cast<uint32_t>(sizeof(float));
    }
    const IOProc proc = self->proc_.load(std::memory_order_acquire);
    if (!proc) {
        for (AudioBuffer& buffer : self->buffers_) std::fill(buffer.data, buffer.data + frames, 0.0f);
        return 0;
    }
    jack_nframes_t cycleFrame = 0;
    jack_time_t cycleStart = 0;
    jack_time_t nextCycleStart = 0;
    float period = 0.0f;
    if (jack_get_cycle_times(self->client_, &cycleFrame, &cycleStart, &nextCycleStart, &period) != 0)
        cycleStart = jack_frames_to_time(self->client_, jack_last_frame_time(self->client_));
    proc(self->buffers_, frames, self->hostTimeForJackTime(cycleStart),
         self->clientData_.load(std::memory_order_relaxed));
    return 0;
}

void JackAudioDevice::shutdown(void* arg) {
    auto* self = static_cast<JackAudioDevice*>(arg);
    self->serverGone_.store(true, std::memory_order_release);
}

}  // namespace tollvane
