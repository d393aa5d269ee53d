// MIDI Time Code from end to end on a jackd of its own (dummy driver): the
// generator's JACK client sends quarter frames to the program's "Tollvane"
// destination, the input layer stamps and parses them on the main run loop,
// and the MIDI controller assembles timecodes from them. Each quarter frame
// must carry a host time within one JACK period of the time it was written
// at, and the running timecodes must follow each other frame by frame.
// Skipped when jackd is not installed.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIMessageDestination.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDIVirtualInputStream.h"
#include "midi/MTCGenerator.h"
#include "midi/TLMIDIController.h"
#include "midi/jack/FFMIDIJackBackend.h"
#include "midi/jack/MTCJackSender.h"
#include "platform/BlockingRunLoop.h"
#include "platform/Log.h"
#include "platform/ScriptedAlertPresenter.h"
#include "platform/SystemHostClock.h"
#include "platform/UserDefaults.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "support/JackDummyServer.h"
#include "support/PrivateSettings.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr uint32_t kSampleRate = 48000;
constexpr uint32_t kPeriod = 256;

// Documents made here save nothing, but the core may write settings.
const std::string kSettingsFolder = usePrivateSettingsFolder("tollvane-mtc-tests");

// Hands every batch on to the controller, keeping the quarter frames' stamps.
struct Tap : FFMIDIMessageDestination {
    void takeMIDIMessages(const FFMIDIMessageList& messages) override {
        for (const auto& message : messages) {
            if (message->messageType() == FFMIDIMessageTypeMTCQuarterFrame) {
                quarterFrames.push_back({message->otherData()[0], message->timeStamp()});
            }
        }
        if (controller != nullptr) controller->takeMIDIMessages(messages);
    }
    struct QuarterFrame {
        uint8_t data;
        uint64_t hostTime;
    };
    TLMIDIController* controller = nullptr;
    std::vector<QuarterFrame> quarterFrames;
};

struct Timecodes : PlaybackApplication {
    void setLastReceivedTimecode(const EMTimecode& timecode) override {
        received.push_back(
            {timecode.framesFromZero(), timecode.stringRepresentation(),
             controller != nullptr && controller->mtcValidMask() == TLMIDIController::kCompleteMask});
    }
    struct Received {
        int64_t frames;
        std::string text;
        bool running;
    };
    TLMIDIController* controller = nullptr;
    std::vector<Received> received;
};

class MTCEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(kSettingsFolder.empty());
        if (findProgram("jackd").empty()) GTEST_SKIP() << "jackd is not installed";
        server_ = "tollvane-mtc-" + std::to_string(getpid());
        jackd_ = std::make_unique<JackDummyServer>(server_, kSampleRate, kPeriod);
        if (!jackd_->started()) GTEST_SKIP() << "jackd could not be started";
        previousSink_ = Log::setSink([](const std::string&) {});
        if (!jackd_->waitUntil([&] { return FFMIDIJackBackend::serverRunning(server_); })) {
            if (!jackd_->alive()) GTEST_SKIP() << "jackd exited at start-up";
            FAIL() << "jackd did not accept clients within 10 s";
        }
    }

    void TearDown() override {
        jackd_.reset();
        if (previousSink_) Log::setSink(previousSink_);
    }

    std::string server_;
    std::unique_ptr<JackDummyServer> jackd_;
    Log::Sink previousSink_;
};

TEST_F(MTCEndToEndTest, QuarterFramesArriveWithinAPeriodOfTheirSendTimesAndAssembleWithoutGaps) {
    BlockingRunLoop loop;
    Tap tap;
    auto timecodes = std::make_shared<Timecodes>();
    struct Restore {
        RunLoop* loop;
        std::shared_ptr<PlaybackApplication> application;
        ~Restore() {
            PlaybackApplication::install(application);
            RunLoop::setMain(loop);
        }
    } restore{RunLoop::setMain(&loop), PlaybackApplication::install(timecodes)};
    const EMTimecodeFramerate rate25 = EMTimecodeFramerate::framerateForIndex(3);
    {
        UserDefaults defaults{""};
        defaults.setBool("mtcOnline", true);
        defaults.setString("selectedMIDISourceEndpointID", "None");
        DocumentController documents;
        auto document = Document::create();
        document->setProjectFramerate(rate25.index());
        documents.addDocument(document);
        SyncController sync{SystemHostClock::instance()};
        sync.setSyncThreadEnabled(false);
        TLEventController events{SystemHostClock::instance()};
        ScriptedAlertPresenter alerts;

        FFMIDIClient client(std::make_unique<FFMIDIJackBackend>(server_), "Tollvane", loop);
        ASSERT_TRUE(client.isValid());
        TLMIDIController midi(nullptr, defaults, loop, SystemHostClock::instance());
        midi.setSyncController(&sync);
        midi.setDocumentController(&documents);
        midi.setEventController(&events);
        midi.setAlertPresenter(&alerts);
        midi.start();
        tap.controller = &midi;
        timecodes->controller = &midi;
        FFMIDIVirtualInputStream destination(client);
        destination.setMessageDestination(&tap);
        destination.setActive(true);
        ASSERT_TRUE(destination.isActive());

        MTCJackSender sender(server_);
        ASSERT_TRUE(sender.open("mtc-send")) << sender.error();
        ASSERT_TRUE(sender.connectTo("Tollvane")) << sender.error();
        ASSERT_EQ(sender.sampleRate(), kSampleRate);
        // Across a minute and an hour: 00:59:58:00 for 2.5 s.
        const int64_t start = EMTimecode::timecodeWithFramerate(rate25, 0, 59, 58, 0)->framesFromZero();
        const MTCGenerator generator(rate25, start, sender.sampleRate());
        const uint64_t count = generator.countWithin(2.5);
        sender.start(generator, count, count);

        const auto poll = loop.scheduleTimer(0.01, true, std::function<void()>([] {}));
        loop.runUntil([&] { return sender.finished() && tap.quarterFrames.size() >= sender.sentCount(); },
                      loop.now() + 10.0);
        loop.runUntil(loop.now() + 0.05);
        poll->invalidate();
        tap.controller = nullptr;
        timecodes->controller = nullptr;

        ASSERT_TRUE(sender.finished());
        ASSERT_EQ(sender.sentCount(), count);
        EXPECT_EQ(sender.lostEventCount(), 0u);
        // A late cycle of this server (not real-time) still carries its
        // events; only one it skipped altogether loses them, and then the
        // run cannot be judged.
        if (tap.quarterFrames.size() != count && sender.xrunCount() != 0)
            GTEST_SKIP() << "the JACK server skipped cycles";
        const std::vector<uint64_t> sent = sender.sentHostTimes();
        std::vector<Timecodes::Received> running;
        for (const auto& received : timecodes->received) {
            if (received.running) running.push_back(received);
        }
        ASSERT_GT(running.size(), count / 4 - 4);
        for (size_t i = 1; i < running.size(); ++i) {
            EXPECT_EQ(running[i].frames - running[i - 1].frames, 1)
                << running[i - 1].text << " then " << running[i].text;
        }
        const auto seen = [&](const char* text) {
            return std::any_of(running.begin(), running.end(), [&](const auto& r) { return r.text == text; });
        };
        EXPECT_TRUE(seen("0:59:59:24"));
        EXPECT_TRUE(seen("1:00:00:00"));

        ASSERT_EQ(tap.quarterFrames.size(), count);
        // A client that runs late may read the next cycle's times: on an
        // overloaded server the stamps cannot be judged.
        if (sender.xrunCount() != 0) GTEST_SKIP() << "the JACK server ran cycles late";
        const double periodNanoseconds = 1e9 * kPeriod / kSampleRate;
        for (size_t index = 0; index < count; ++index) {
            const Tap::QuarterFrame& received = tap.quarterFrames[index];
            EXPECT_EQ(received.data, generator.quarterFrameData(index)) << "quarter frame " << index;
            const double error = static_cast<double>(received.hostTime) - static_cast<double>(sent[index]);
            EXPECT_LE(std::abs(error), periodNanoseconds) << "quarter frame " << index;
        }
    }
}

}  // namespace
}  // namespace tollvane
