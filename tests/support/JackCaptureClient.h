#pragma once

// A JACK client whose two inputs listen to another client's outputs, for
// measuring where sound lands.

#include <jack/jack.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "support/PredictedClick.h"

namespace tollvane {

// A client whose two inputs listen to another client's outputs: it keeps
// every frame it hears and each cycle's first frame, start time and how late
// it ran. Connected after the player, it runs after it in every cycle, so
// cycle c of the recording is what the player wrote in that same cycle.
class CaptureClient {
public:
    struct Cycle {
        jack_nframes_t frame;
        jack_time_t start;
        size_t recordedAt;  // index of its first frame in the recording
        jack_time_t late;   // how long after its start this client ran
    };

    CaptureClient(const std::string& serverName, size_t maxFrames, size_t minCycleFrames = 32)
        : maxFrames_(maxFrames), maxCycles_(maxFrames / minCycleFrames) {
        jack_status_t status{};
        client_ = jack_client_open("tollvane-capture",
                                   static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                                   serverName.c_str());
        if (!client_) return;
        for (int i = 0; i < 2; ++i) {
            const std::string name = "in_" + std::to_string(i + 1);
            ports_[i] =
                jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsInput, 0);
            samples_[i].assign(maxFrames_, 0.0f);
        }
        cycles_.assign(maxCycles_, Cycle{});
        jack_set_process_callback(client_, &CaptureClient::process, this);
    }
    ~CaptureClient() {
        if (client_) jack_client_close(client_);
    }
    CaptureClient(const CaptureClient&) = delete;
    CaptureClient& operator=(const CaptureClient&) = delete;

    bool connectTo(const std::vector<std::string>& outputs) {
        if (!client_ || jack_activate(client_) != 0) return false;
        for (size_t i = 0; i < 2 && i < outputs.size(); ++i) {
            if (jack_connect(client_, outputs[i].c_str(), jack_port_name(ports_[i])) != 0) return false;
        }
        return true;
    }
    // The full names of the audio outputs whose names match `pattern` (a
    // regular expression, as JACK takes it).
    std::vector<std::string> outputsMatching(const std::string& pattern) const {
        std::vector<std::string> names;
        if (!client_) return names;
        const char** ports =
            jack_get_ports(client_, pattern.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput);
        for (const char** port = ports; ports && *port; ++port) names.emplace_back(*port);
        if (ports) jack_free(ports);
        return names;
    }
    void stop() {
        if (client_) jack_deactivate(client_);
    }

    size_t framesRecorded() const { return frames_.load(std::memory_order_acquire); }
    size_t cyclesRecorded() const { return cycleCount_.load(std::memory_order_acquire); }
    const std::vector<float>& channel(int i) const { return samples_[i]; }
    const Cycle& cycle(size_t i) const { return cycles_[i]; }
    // Cycles that ran a whole period or more after their start.
    size_t lateCycles(jack_time_t periodMicros) const {
        size_t late = 0;
        for (size_t c = 0; c < cyclesRecorded(); ++c) late += cycles_[c].late >= periodMicros ? 1 : 0;
        return late;
    }

private:
    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<CaptureClient*>(arg);
        const size_t at = self->frames_.load(std::memory_order_relaxed);
        const size_t cycle = self->cycleCount_.load(std::memory_order_relaxed);
        if (at + frames > self->maxFrames_ || cycle == self->maxCycles_) return 0;
        jack_nframes_t first = 0;
        jack_time_t start = 0;
        jack_time_t next = 0;
        float period = 0.0f;
        jack_get_cycle_times(self->client_, &first, &start, &next, &period);
        const jack_time_t ran = jack_get_time();
        self->cycles_[cycle] = Cycle{first, start, at, ran > start ? ran - start : 0};
        for (int i = 0; i < 2; ++i) {
            const auto* in = static_cast<const float*>(jack_port_get_buffer(self->ports_[i], frames));
            std::copy(in, in + frames, self->samples_[i].begin() + static_cast<std::ptrdiff_t>(at));
        }
        self->frames_.store(at + frames, std::memory_order_release);
        self->cycleCount_.store(cycle + 1, std::memory_order_release);
        return 0;
    }

    const size_t maxFrames_;
    const size_t maxCycles_;
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[2] = {nullptr, nullptr};
    std::vector<float> samples_[2];
    std::vector<Cycle> cycles_;
    std::atomic<size_t> frames_{0};
    std::atomic<size_t> cycleCount_{0};
};

}  // namespace tollvane
