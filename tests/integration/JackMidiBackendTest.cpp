// Runs the JACK backend against a real jackd with the dummy driver, started
// under a name of its own for each test and stopped afterwards. Skipped when
// jackd is not installed.

#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <thread>

#include "midi/FFMIDIBackendChooser.h"
#include "midi/FFMIDIMessage.h"
#include "midi/FFMIDIMessageParser.h"
#include "midi/jack/FFMIDIJackBackend.h"
#include "platform/Log.h"
#include "platform/SystemHostClock.h"
#include "support/JackDummyServer.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define TOLLVANE_TSAN 1
#endif
#endif
#if defined(__SANITIZE_THREAD__)
#define TOLLVANE_TSAN 1
#endif
#if defined(TOLLVANE_TSAN)
// The sending client lives in this process too, and JACK orders its write of
// a port buffer before our read through semaphores in shared memory, which
// the race detector cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:jack_midi_event_write\n";
}
#endif

namespace tollvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t sampleRate = 48000;
constexpr uint32_t period = 256;

jack_client_t* openOn(const std::string& server, const char* name) {
    jack_status_t status{};
    return jack_client_open(name, static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                            server.c_str());
}

// A second program on the server: a MIDI output port that sends a run of
// quarter frames at frames it records, and a spare port to register later.
class Sender {
public:
    struct Sent {
        uint8_t data;
        jack_nframes_t frame;
    };
    static constexpr size_t runLength = 8;
    // Two quarter frames per cycle, at offsets that differ from cycle to cycle.
    static constexpr std::array<jack_nframes_t, runLength> offsets{3, 131, 17, 200, 0, 255, 64, 65};

    explicit Sender(const std::string& server) {
        client_ = openOn(server, "sender");
        if (client_ == nullptr) return;
        port_ = jack_port_register(client_, "mtc", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
        jack_set_process_callback(client_, process, this);
        jack_set_xrun_callback(client_, xrun, this);
        jack_activate(client_);
    }
    ~Sender() {
        if (client_ != nullptr) jack_client_close(client_);
    }
    bool valid() const { return client_ != nullptr && port_ != nullptr; }
    jack_client_t* client() const { return client_; }
    std::string portName() const { return jack_port_name(port_); }

    void sendRun() { armed_.store(true, std::memory_order_release); }
    void sendOne(uint8_t status, uint8_t data1, uint8_t data2) {
        single_.store(status << 16 | data1 << 8 | data2, std::memory_order_release);
    }
    int xruns() const { return xruns_.load(std::memory_order_acquire); }
    size_t sentCount() const { return sentCount_.load(std::memory_order_acquire); }
    const std::array<Sent, runLength>& sent() const { return sent_; }

private:
    static int xrun(void* arg) {
        static_cast<Sender*>(arg)->xruns_.fetch_add(1, std::memory_order_acq_rel);
        return 0;
    }

    static int process(jack_nframes_t frames, void* arg) {
        auto* self = static_cast<Sender*>(arg);
        void* buffer = jack_port_get_buffer(self->port_, frames);
        jack_midi_clear_buffer(buffer);
        if (const uint32_t single = self->single_.exchange(0, std::memory_order_acq_rel); single != 0) {
            const uint8_t bytes[] = {static_cast<uint8_t>(single >> 16), static_cast<uint8_t>(single >> 8),
                                     static_cast<uint8_t>(single)};
            jack_midi_event_write(buffer, 0, bytes, 3);
        }
        if (!self->armed_.load(std::memory_order_acquire)) return 0;
        const size_t next = self->sentCount_.load(std::memory_order_relaxed);
        if (next >= runLength) return 0;
        const jack_nframes_t cycleFrame = jack_last_frame_time(self->client_);
        for (size_t i = next; i < next + 2; ++i) {
            const auto data = static_cast<uint8_t>(i << 4 | (i & 0x0F));
            const uint8_t bytes[] = {0xF1, data};
            jack_midi_event_write(buffer, offsets[i], bytes, 2);
            self->sent_[i] = {data, cycleFrame + offsets[i]};
        }
        self->sentCount_.store(next + 2, std::memory_order_release);
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    std::atomic<bool> armed_{false};
    std::atomic<uint32_t> single_{0};
    std::atomic<size_t> sentCount_{0};
    std::atomic<int> xruns_{0};
    std::array<Sent, runLength> sent_{};
};

struct Arrival {
    FFMIDIPortRef port;
    FFMIDIUniqueID source;
    FFMIDIPacket packet;
};

class JackMidiBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (findProgram("jackd").empty()) GTEST_SKIP() << "jackd is not installed";
        static std::atomic<int> serial{0};
        server_ = "tollvane-test-" + std::to_string(getpid()) + "-" + std::to_string(serial++);
        jackd_ = std::make_unique<JackDummyServer>(server_, sampleRate, period);
        if (!jackd_->started()) GTEST_SKIP() << "jackd could not be started";
        previousSink_ = Log::setSink([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            logged_.push_back(line);
        });
        if (!jackd_->waitUntil([&] { return FFMIDIJackBackend::serverRunning(server_); })) {
            if (!jackd_->alive()) GTEST_SKIP() << "jackd exited at start-up";
            FAIL() << "jackd did not accept clients within 10 s";
        }
    }

    void TearDown() override {
        backend_.reset();
        sender_.reset();
        jackd_.reset();
        Log::setSink(previousSink_);
    }

    void startBackend() {
        backend_ = std::make_unique<FFMIDIJackBackend>(server_);
        FFMIDIBackend::Callbacks callbacks;
        callbacks.received = [this](FFMIDIPortRef port, FFMIDIUniqueID source, FFMIDIPacketList&& packets) {
            std::lock_guard lock(mutex_);
            for (FFMIDIPacket& packet : packets.packets())
                arrivals_.push_back({port, source, std::move(packet)});
            changed_.notify_all();
        };
        callbacks.setupChanged = [this] {
            std::lock_guard lock(mutex_);
            ++setupChanges_;
            changed_.notify_all();
        };
        ASSERT_EQ(backend_->start("tollvane", std::move(callbacks)), 0);
        sender_ = std::make_unique<Sender>(server_);
        ASSERT_TRUE(sender_->valid());
    }

    // A new connection takes effect at a cycle boundary; events sent before
    // that are lost, so send until one gets through, then start afresh.
    void waitUntilConnected() {
        const auto deadline = Clock::now() + 5s;
        while (Clock::now() < deadline) {
            sender_->sendOne(0xB0, 123, 0);
            std::unique_lock lock(mutex_);
            if (changed_.wait_for(lock, 20ms, [&] { return !arrivals_.empty(); })) break;
        }
        std::this_thread::sleep_for(20ms);
        std::lock_guard lock(mutex_);
        arrivals_.clear();
    }

    std::vector<Arrival> waitForArrivals(size_t count) {
        std::unique_lock lock(mutex_);
        changed_.wait_until(lock, Clock::now() + 5s, [&] { return arrivals_.size() >= count; });
        return arrivals_;
    }

    bool waitForSetupChangesAbove(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_until(lock, Clock::now() + 5s, [&] { return setupChanges_ > count; });
    }

    int setupChanges() {
        std::lock_guard lock(mutex_);
        return setupChanges_;
    }

    std::string server_;
    std::unique_ptr<JackDummyServer> jackd_;
    Log::Sink previousSink_;
    std::unique_ptr<FFMIDIJackBackend> backend_;
    std::unique_ptr<Sender> sender_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Arrival> arrivals_;
    std::vector<std::string> logged_;
    int setupChanges_ = 0;
};

TEST_F(JackMidiBackendTest, QuarterFramesArriveParsedWithTheHostTimesOfTheirFrames) {
    startBackend();
    const FFMIDIUniqueID source = FFMIDIJackBackend::uniqueIDForPortName(sender_->portName());
    const auto listed = backend_->sources();
    ASSERT_TRUE(std::any_of(listed.begin(), listed.end(), [&](const auto& s) {
        return s.uniqueID == source && s.name == sender_->portName();
    }));
    FFMIDIPortRef input = 0;
    ASSERT_EQ(backend_->createInputPort("MIDI In", input), 0);
    ASSERT_EQ(backend_->connectSource(input, source), 0);
    waitUntilConnected();

    const uint64_t before = SystemHostClock::instance().now();
    sender_->sendRun();
    const std::vector<Arrival> arrivals = waitForArrivals(Sender::runLength);
    const uint64_t after = SystemHostClock::instance().now();
    ASSERT_EQ(sender_->sentCount(), Sender::runLength);
    // A cycle the server skips under overload loses its events before they
    // reach us; only then may some be missing.
    if (sender_->xruns() == 0) {
        ASSERT_EQ(arrivals.size(), Sender::runLength);
    }
    ASSERT_GE(arrivals.size(), 2u);

    FFMIDIMessageParser parser;
    std::vector<std::pair<size_t, uint64_t>> received;  // index in the run, host time
    for (const Arrival& arrival : arrivals) {
        EXPECT_EQ(arrival.port, input);
        EXPECT_EQ(arrival.source, source);
        const FFMIDIMessageList messages = parser.messagesForPacket(arrival.packet);
        ASSERT_EQ(messages.size(), 1u);
        ASSERT_EQ(messages[0]->statusByte(), 0xF1);
        EXPECT_EQ(messages[0]->timeStamp(), arrival.packet.timeStamp);
        const std::vector<uint8_t> data = messages[0]->otherData();
        ASSERT_EQ(data.size(), 1u);
        const size_t index = data[0] >> 4;
        ASSERT_LT(index, Sender::runLength);
        EXPECT_EQ(sender_->sent()[index].data, data[0]);
        received.emplace_back(index, messages[0]->timeStamp());
        // On the program's host clock: a server on another clock would be off
        // by far more than the slack a loaded machine needs.
        EXPECT_GT(arrival.packet.timeStamp + 50'000'000u, before);
        EXPECT_LT(arrival.packet.timeStamp, after + 50'000'000u);
    }
    for (size_t k = 1; k < received.size(); ++k) {
        const auto [previous, previousTime] = received[k - 1];
        const auto [index, time] = received[k];
        ASSERT_LT(previous, index);
        const double frames =
            static_cast<double>(sender_->sent()[index].frame - sender_->sent()[previous].frame);
        const double expected = frames * 1e9 / sampleRate;
        const double measured = static_cast<double>(time) - static_cast<double>(previousTime);
        // Within a cycle the spacing is exact up to rounding; from one cycle to
        // the next it carries the server's smoothing of its cycle times.
        const bool sameCycle = previous / 2 == index / 2;
        EXPECT_NEAR(measured, expected, sameCycle ? 2.0 : 500'000.0)
            << "quarter frames " << previous << ", " << index;
    }
    EXPECT_EQ(backend_->droppedEventCount(), 0u);
}

TEST_F(JackMidiBackendTest, TheVirtualDestinationReceivesFromWhoeverConnects) {
    startBackend();
    FFMIDIPortRef destination = 0;
    FFMIDIUniqueID uniqueID = 0;
    ASSERT_EQ(backend_->createDestination("Tollvane", destination, uniqueID), 0);
    EXPECT_NE(uniqueID, 0);
    EXPECT_EQ(backend_->destinationPortName(destination), "tollvane:Tollvane");
    // Not a source of its own.
    for (const auto& source : backend_->sources()) EXPECT_NE(source.name, "tollvane:Tollvane");

    ASSERT_EQ(jack_connect(sender_->client(), sender_->portName().c_str(), "tollvane:Tollvane"), 0);
    waitUntilConnected();
    sender_->sendOne(0x90, 72, 100);
    const std::vector<Arrival> arrivals = waitForArrivals(1);
    ASSERT_EQ(arrivals.size(), 1u);
    EXPECT_EQ(arrivals[0].port, destination);
    EXPECT_EQ(arrivals[0].source, 0);
    EXPECT_EQ(arrivals[0].packet.bytes, (std::vector<uint8_t>{0x90, 72, 100}));

    // A kept ID is taken unless an endpoint already has it.
    const FFMIDIUniqueID senderID = FFMIDIJackBackend::uniqueIDForPortName(sender_->portName());
    EXPECT_EQ(backend_->setDestinationUniqueID(destination, senderID), FFMIDIJackBackend::errorIDNotUnique);
    EXPECT_EQ(backend_->setDestinationUniqueID(destination, 0), FFMIDIJackBackend::errorIDNotUnique);
    EXPECT_EQ(backend_->setDestinationUniqueID(destination, 0x12345678), 0);
    backend_->disposeDestination(destination);
    EXPECT_EQ(backend_->destinationPortName(destination), "");
}

TEST_F(JackMidiBackendTest, SourcesComingAndGoingAreReportedAndDisconnectingStopsDelivery) {
    startBackend();
    const int before = setupChanges();
    jack_port_t* extra =
        jack_port_register(sender_->client(), "extra", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    ASSERT_NE(extra, nullptr);
    ASSERT_TRUE(waitForSetupChangesAbove(before));
    const FFMIDIUniqueID extraID = FFMIDIJackBackend::uniqueIDForPortName("sender:extra");
    auto listed = backend_->sources();
    EXPECT_TRUE(
        std::any_of(listed.begin(), listed.end(), [&](const auto& s) { return s.uniqueID == extraID; }));

    const int afterAdding = setupChanges();
    jack_port_unregister(sender_->client(), extra);
    ASSERT_TRUE(waitForSetupChangesAbove(afterAdding));
    listed = backend_->sources();
    EXPECT_FALSE(
        std::any_of(listed.begin(), listed.end(), [&](const auto& s) { return s.uniqueID == extraID; }));

    FFMIDIPortRef input = 0;
    ASSERT_EQ(backend_->createInputPort("MIDI In", input), 0);
    EXPECT_EQ(backend_->connectSource(input, extraID), FFMIDIJackBackend::errorUnknownObject);
    const FFMIDIUniqueID source = FFMIDIJackBackend::uniqueIDForPortName(sender_->portName());
    ASSERT_EQ(backend_->connectSource(input, source), 0);
    EXPECT_EQ(backend_->connectSource(input, source), 0);
    waitUntilConnected();
    // Resent until it gets through: an overloaded server may skip a cycle.
    const auto deadline = Clock::now() + 5s;
    bool arrived = false;
    while (!arrived && Clock::now() < deadline) {
        sender_->sendOne(0xB0, 64, 127);
        std::unique_lock lock(mutex_);
        arrived = changed_.wait_for(lock, 50ms, [&] { return !arrivals_.empty(); });
    }
    ASSERT_TRUE(arrived);
    EXPECT_EQ(waitForArrivals(1)[0].packet.bytes, (std::vector<uint8_t>{0xB0, 64, 127}));
    EXPECT_EQ(backend_->disconnectSource(input, source), 0);
    EXPECT_EQ(backend_->disconnectSource(input, source), FFMIDIJackBackend::errorUnknownObject);
    backend_->disposeInputPort(input);
}

TEST_F(JackMidiBackendTest, TheChooserTakesJackWhenAServerRunsAndHonoursAForcedName) {
    struct Case {
        std::string forced;
        std::string server;
        std::string expected;  // "" for none
    };
    const Case cases[] = {
        {"", server_, "jack"},
        {"", server_ + "-absent", "loopback"},
        {"jack", server_, "jack"},
        {"jack", server_ + "-absent", ""},
        {"loopback", server_, "loopback"},
        {"alsa", server_, ""},
        {"nonsense", server_, ""},
    };
    for (const Case& c : cases) {
        // No ALSA sequencer either, so that the fallback is the same on every machine.
        const auto backend = FFMIDIBackendChooser::chooseBackend(c.forced, c.server, "/nonexistent/snd/seq");
        EXPECT_EQ(backend ? backend->name() : std::string(), c.expected)
            << "'" << c.forced << "' on " << c.server;
    }
}

}  // namespace
}  // namespace tollvane
