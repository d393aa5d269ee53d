// The generator's MTC fed to the MIDI controller on virtual time, at each
// rate and across minute and hour boundaries: once running, the controller
// must hand on one timecode per frame, each one frame after the last, and
// the timecode of piece 7 must be the cycle's own.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "document/Document.h"
#include "document/DocumentController.h"
#include "midi/FFMIDISystemCommonMessage.h"
#include "midi/FFMIDISystemExclusiveMessage.h"
#include "midi/MTCGenerator.h"
#include "midi/TLMIDIController.h"
#include "platform/ManualRunLoop.h"
#include "platform/ScriptedAlertPresenter.h"
#include "playback/PlaybackApplication.h"
#include "playback/SyncController.h"
#include "playback/TLEventController.h"
#include "timebase/EMTimecode.h"

namespace tollvane {
namespace {

const bool kPrivateSettings = [] {
    if (::getenv("TOLLVANE_CONFIG_DIR")) return true;
    static std::string folder = std::filesystem::temp_directory_path().string() + "/tollvane-mtcgen-XXXXXX";
    if (::mkdtemp(folder.data()) == nullptr) return false;
    ::setenv("TOLLVANE_CONFIG_DIR", folder.c_str(), 1);
    std::atexit([] { std::filesystem::remove_all(folder); });
    return true;
}();

struct Received {
    int64_t frames;
    std::string text;
    bool running;
};

struct Recorder : PlaybackApplication {
    void setLastReceivedTimecode(const EMTimecode& timecode) override {
        received.push_back({timecode.framesFromZero(), timecode.stringRepresentation(),
                            controller && controller->mtcValidMask() == TLMIDIController::kCompleteMask});
    }
    const TLMIDIController* controller = nullptr;
    std::vector<Received> received;
};

std::vector<Received> run(const char* rateName, const char* startText, double seconds, bool withFullFrame) {
    const EMTimecodeFramerate rate =
        EMTimecodeFramerate::framerateForIndex(EMTimecodeFramerate::indexForName(rateName));
    ManualRunLoop loop{1'000'000'000'000};
    RunLoop* previousLoop = RunLoop::setMain(&loop);
    auto recorder = std::make_shared<Recorder>();
    auto previousApplication = PlaybackApplication::install(recorder);
    {
        UserDefaults defaults{""};
        defaults.setBool("mtcOnline", true);
        DocumentController documents;
        auto document = Document::create();
        document->setProjectFramerate(rate.index());
        documents.addDocument(document);
        SyncController sync{loop.clock()};
        sync.setSyncThreadEnabled(false);
        TLEventController events{loop.clock()};
        ScriptedAlertPresenter alerts;
        TLMIDIController midi(nullptr, defaults, loop, loop.clock());
        midi.setSyncController(&sync);
        midi.setDocumentController(&documents);
        midi.setEventController(&events);
        midi.setAlertPresenter(&alerts);
        midi.setWallClock([&loop] { return loop.now(); });
        midi.start();
        recorder->controller = &midi;

        const MTCGenerator generator(
            rate, EMTimecode::timecodeWithFramerate(rate, startText)->framesFromZero(), 48000);
        const uint64_t start = loop.clock().now();
        if (withFullFrame) {
            const auto bytes = generator.fullFrame();
            auto message = std::make_shared<FFMIDISystemExclusiveMessage>(
                std::vector<uint8_t>(bytes.begin() + 1, bytes.end() - 1), true);
            message->setTimeStamp(start);
            midi.takeMIDIMessages({message});
        }
        for (uint64_t k = 0; k < generator.countWithin(seconds); ++k) {
            const uint64_t at = start + generator.nanosecondsOffset(k);
            loop.advance(HostClock::secondsBetween(loop.clock().now(), at));
            auto message = std::make_shared<FFMIDISystemCommonMessage>(0xF1, generator.quarterFrameData(k));
            message->setTimeStamp(at);
            midi.takeMIDIMessages({message});
        }
        recorder->controller = nullptr;
    }
    PlaybackApplication::install(previousApplication);
    RunLoop::setMain(previousLoop);
    return recorder->received;
}

TEST(MTCGeneratorControllerTest, RunningTimecodesFollowFrameByFrameAcrossMinutesAndHours) {
    ASSERT_TRUE(kPrivateSettings);
    struct Case {
        const char* rate;
        const char* start;
    };
    // Starts on even and odd frames, so that cycles fall on frame 0, 1 or 2
    // of the new minute.
    const Case cases[] = {{"24", "00:59:58:00"},      {"25", "00:59:59:00"},      {"25", "00:59:58:01"},
                          {"29.97df", "00:00:59;20"}, {"29.97df", "00:09:59;21"}, {"29.97", "00:59:59:21"},
                          {"30", "01:59:59:22"},      {"30", "01:59:59:23"}};
    for (const Case& c : cases) {
        for (const bool withFullFrame : {false, true}) {
            const std::vector<Received> received = run(c.rate, c.start, 1.5, withFullFrame);
            std::vector<Received> running;
            for (const Received& r : received) {
                if (r.running) running.push_back(r);
            }
            ASSERT_GT(running.size(), 20u) << c.rate << " " << c.start;
            for (size_t i = 1; i < running.size(); ++i) {
                EXPECT_EQ(running[i].frames - running[i - 1].frames, 1)
                    << c.rate << " from " << c.start << (withFullFrame ? " with" : " without")
                    << " full frame: " << running[i - 1].text << " then " << running[i].text;
            }
        }
    }
}

}  // namespace
}  // namespace tollvane
