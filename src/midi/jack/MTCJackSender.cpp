#include "midi/jack/MTCJackSender.h"

#include <jack/midiport.h>
#include <time.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "midi/jack/FFMIDIJackBackend.h"

namespace tollvane {

namespace {

uint64_t monotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

void quietJackErrors(const char*) {}

}  // namespace

MTCJackSender::MTCJackSender(std::string serverName) : serverName_(std::move(serverName)) {}

MTCJackSender::~MTCJackSender() {
    if (client_ != nullptr) {
        jack_deactivate(client_);
        jack_client_close(client_);
    }
}

bool MTCJackSender::open(const std::string& clientName) {
    if (client_ != nullptr) return true;
    jack_set_error_function(quietJackErrors);
    jack_status_t status{};
    client_ = serverName_.empty()
                  ? jack_client_open(clientName.c_str(), JackNoStartServer, &status)
                  : jack_client_open(clientName.c_str(),
                                     static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                     serverName_.c_str());
    if (client_ == nullptr) {
        error_ = "no JACK server is running";
        return false;
    }
    // The same correction as the input layer's, so that both stamp on one clock.
    const uint64_t before = monotonicNanoseconds();
    const uint64_t jackNow = jack_get_time() * 1000u;
    const uint64_t after = monotonicNanoseconds();
    const int64_t offset = static_cast<int64_t>(before / 2 + after / 2) - static_cast<int64_t>(jackNow);
    if (std::llabs(offset) > 1000000) clockOffset_ = offset;

    port_ = jack_port_register(client_, "mtc out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    if (port_ == nullptr) {
        error_ = "the JACK server refused the MIDI output port";
        return false;
    }
    jack_set_process_callback(client_, processCallback, this);
    jack_set_xrun_callback(client_, xrunCallback, this);
    if (jack_activate(client_) != 0) {
        error_ = "the JACK server refused to activate the client";
        return false;
    }
    return true;
}

std::string MTCJackSender::portName() const {
    return port_ != nullptr ? jack_port_name(port_) : std::string();
}

uint32_t MTCJackSender::sampleRate() const {
    return client_ != nullptr ? jack_get_sample_rate(client_) : 0;
}

uint32_t MTCJackSender::bufferSize() const {
    return client_ != nullptr ? jack_get_buffer_size(client_) : 0;
}

bool MTCJackSender::connectTo(const std::string& port) {
    if (client_ == nullptr || port_ == nullptr) {
        error_ = "not connected to a JACK server";
        return false;
    }
    std::string target;
    if (jack_port_by_name(client_, port.c_str()) != nullptr) {
        target = port;
    } else if (const char** names =
                   jack_get_ports(client_, nullptr, JACK_DEFAULT_MIDI_TYPE, JackPortIsInput)) {
        const std::string suffix = ":" + port;
        for (const char** name = names; *name != nullptr; ++name) {
            const std::string candidate = *name;
            if (candidate.size() > suffix.size() &&
                candidate.compare(candidate.size() - suffix.size(), suffix.size(), suffix) == 0) {
                target = candidate;
                break;
            }
        }
        jack_free(names);
    }
    if (target.empty()) {
        error_ = "no MIDI input port named " + port;
        return false;
    }
    const int result = jack_connect(client_, jack_port_name(port_), target.c_str());
    if (result != 0 && result != EEXIST) {
        error_ = "cannot connect to " + target;
        return false;
    }
    // The new graph is in place by the cycle after next.
    waitForCycles(3);
    return true;
}

void MTCJackSender::waitForCycles(uint64_t count) {
    const uint64_t target = cycles_.load(std::memory_order_acquire) + count;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (cycles_.load(std::memory_order_acquire) < target && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

void MTCJackSender::start(const MTCGenerator& generator, uint64_t quarterFrames, size_t recordCapacity) {
    if (armed_.load(std::memory_order_acquire)) return;
    generator_.emplace(generator);
    limit_ = quarterFrames;
    record_.assign(recordCapacity, 0);
    armed_.store(true, std::memory_order_release);
}

void MTCJackSender::stop() {
    stopRequested_.store(true, std::memory_order_release);
    if (armed_.load(std::memory_order_acquire) && !finished()) waitForCycles(2);
    // A client whose server is gone runs no more cycles.
    finished_.store(true, std::memory_order_release);
}

std::vector<uint64_t> MTCJackSender::sentHostTimes() const {
    const uint64_t sent = sentCount();
    const size_t count = sent < record_.size() ? static_cast<size_t>(sent) : record_.size();
    return std::vector<uint64_t>(record_.begin(), record_.begin() + static_cast<std::ptrdiff_t>(count));
}

int MTCJackSender::processCallback(jack_nframes_t frames, void* arg) {
    return static_cast<MTCJackSender*>(arg)->process(frames);
}

int MTCJackSender::xrunCallback(void* arg) {
    auto* self = static_cast<MTCJackSender*>(arg);
    // The server reports one when the graph changes; only those of the run count.
    if (!self->armed_.load(std::memory_order_acquire) || self->finished_.load(std::memory_order_acquire))
        return 0;
    self->xruns_.fetch_add(1, std::memory_order_relaxed);
    return 0;
}

int MTCJackSender::process(jack_nframes_t frames) {
    void* buffer = jack_port_get_buffer(port_, frames);
    jack_midi_clear_buffer(buffer);
    cycles_.fetch_add(1, std::memory_order_acq_rel);
    if (!armed_.load(std::memory_order_acquire) || finished_.load(std::memory_order_acquire)) return 0;
    if (stopRequested_.load(std::memory_order_acquire)) {
        finished_.store(true, std::memory_order_release);
        return 0;
    }

    jack_nframes_t cycleFrame = 0;
    jack_time_t cycleMicros = 0;
    jack_time_t nextMicros = 0;
    float periodMicros = 0;
    uint64_t cycleStart = 0;
    if (jack_get_cycle_times(client_, &cycleFrame, &cycleMicros, &nextMicros, &periodMicros) == 0) {
        cycleStart = static_cast<uint64_t>(static_cast<int64_t>(cycleMicros * 1000u) + clockOffset_);
    } else {
        cycleFrame = jack_last_frame_time(client_);
        cycleStart = monotonicNanoseconds();
    }
    const uint32_t rate = generator_->sampleRate();
    if (!begun_) {
        begun_ = true;
        startFrame_ = cycleFrame;
        startHostTime_ = cycleStart;
        const auto fullFrame = generator_->fullFrame();
        if (jack_midi_event_write(buffer, 0, fullFrame.data(), fullFrame.size()) != 0)
            lost_.fetch_add(1, std::memory_order_relaxed);
    }
    // Frame counts wrap after 2^32 samples (a day at 48 kHz); the difference does not.
    const uint64_t cycleOffset = static_cast<jack_nframes_t>(cycleFrame - startFrame_);
    const uint64_t cycleEnd = cycleOffset + frames;
    while ((limit_ == 0 || next_ < limit_)) {
        const uint64_t at = generator_->sampleOffset(next_);
        if (at >= cycleEnd) break;
        // One that a skipped cycle made late goes out at once.
        const auto offset = static_cast<jack_nframes_t>(at > cycleOffset ? at - cycleOffset : 0);
        const uint8_t bytes[2] = {0xF1, generator_->quarterFrameData(next_)};
        if (jack_midi_event_write(buffer, offset, bytes, 2) != 0)
            lost_.fetch_add(1, std::memory_order_relaxed);
        if (next_ < record_.size())
            record_[next_] = FFMIDIJackBackend::hostTimeForFrame(cycleStart, offset, rate);
        ++next_;
    }
    sent_.store(next_, std::memory_order_release);
    if (limit_ != 0 && next_ >= limit_) finished_.store(true, std::memory_order_release);
    return 0;
}

}  // namespace tollvane
