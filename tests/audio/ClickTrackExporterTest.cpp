#include "audio/ClickTrackExporter.h"

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/TLAudioController.h"
#include "model/Cue.h"
#include "model/CueDefaults.h"
#include "model/CueEventCueEnd.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"
#include "platform/ScriptedAlertPresenter.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

constexpr double kRate = 48000.0;

struct Samples {
    SF_INFO info{};
    std::vector<float> data;
};

Samples readBack(const std::string& path) {
    Samples samples;
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &samples.info);
    if (!file) return samples;
    samples.data.resize(static_cast<size_t>(samples.info.frames));
    sf_readf_float(file, samples.data.data(), samples.info.frames);
    sf_close(file);
    return samples;
}

std::vector<char> bytesOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ClickTrackExporterTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(nullptr);
        previousSink_ = Log::setSink([this](const std::string& line) { logged.push_back(line); });
        previousPresenter_ = AlertPresenter::setShared(&alerts);
        CueDefaults::registerDefaults(UserDefaults::standardUserDefaults());
        folder =
            fs::temp_directory_path() / ("tollvane-clicks-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        TLAudioController::setNoisePhase(0.0);
    }
    void TearDown() override {
        fs::remove_all(folder);
        AlertPresenter::setShared(previousPresenter_);
        Log::setSink(previousSink_);
        RunLoop::setMain(previousLoop_);
    }

    // A cue at 120 bpm in 4/4 with sync 1:00:00:00 at 25 fps, ending after `bars` bars.
    static std::shared_ptr<Cue> makeCue(int bars, uint32_t mute = 0) {
        auto cue = Cue::create();
        cue->setUpdatesSuspended(true);
        cue->setTitle("1M3");
        cue->setSyncTimecode(
            EMTimecode::timecodeWithFramerate(EMTimecode::framerateForIndex(3), "1:00:00:00"));
        cue->setClickMuteSetting(mute);
        if (bars > 0) {
            auto end = CueEventCueEnd::cueEndEventWithCue(cue);
            end->setLockType(CueEvent::kLockTypeBar);
            end->setLockBar(bars + 1);
            cue->setCueEndEvent(end);
        }
        cue->setUpdatesSuspended(false);
        cue->reallyUpdateSequence();
        return cue;
    }

    // Every click the export walks: its position in seconds from the cue's
    // first click and whether it sounds.
    static std::vector<std::pair<double, bool>> clicksOf(const Cue& cue) {
        std::vector<std::pair<double, bool>> clicks;
        bool sounds = false;
        double b = cue.nextClickTimeAfterPrerollShiftedBeats(0.01, &sounds);
        const double first = cue.secondsFromSyncPointForPrerollShiftedBeats(b);
        while (b > 0.0) {
            clicks.emplace_back(cue.secondsFromSyncPointForPrerollShiftedBeats(b) - first, sounds);
            b = cue.nextClickTimeAfterPrerollShiftedBeats(b + 0.01, &sounds);
        }
        return clicks;
    }

    std::vector<std::string> logged;
    ScriptedAlertPresenter alerts;
    UserDefaults defaults{""};
    TLAudioController audio{defaults};
    fs::path folder;

private:
    RunLoop* previousLoop_ = nullptr;
    Log::Sink previousSink_;
    AlertPresenter* previousPresenter_ = nullptr;
};

TEST_F(ClickTrackExporterTest, OptionsFromDefaults) {
    auto exporter = ClickTrackExporter::exporterWithCue(makeCue(2), audio);
    EXPECT_EQ(ClickTrackExporter::exporterWithCue(nullptr, audio), nullptr);
    exporter->readOptionsFromDefaults(defaults);
    EXPECT_EQ(exporter->secondsPrerollBeforeFirstClick(), 2.0);
    EXPECT_TRUE(exporter->extendHeadToAlignWithFrameBoundary());
    EXPECT_EQ(exporter->sampleRate(), 48000.0);
    EXPECT_EQ(exporter->bitDepth(), 24);
    EXPECT_EQ(exporter->format(), "BWV (WAV)");
    EXPECT_EQ(exporter->allowedFileTypes(), std::vector<std::string>{"wav"});
    exporter->setFormat("AIFF");
    exporter->setBitDepth(16);
    exporter->storeOptionsInDefaults(defaults);
    exporter->setFormat("x");
    exporter->readOptionsFromDefaults(defaults);
    EXPECT_EQ(exporter->format(), "AIFF");
    EXPECT_EQ(exporter->bitDepth(), 16);
    EXPECT_EQ(exporter->allowedFileTypes(), (std::vector<std::string>{"aif", "aiff"}));
}

TEST_F(ClickTrackExporterTest, StartTimecodeAndSuggestedName) {
    auto cue = makeCue(2);
    auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
    const auto first = cue->timecodeForPrerollShiftedBeats(cue->nextClickTimeAfterPrerollShiftedBeats(0.0));
    // Four warning clicks at 120 bpm: the first is 2 s before the sync point.
    EXPECT_EQ(first->stringRepresentation(), "0:59:58:00");
    exporter->setSecondsPrerollBeforeFirstClick(2.03);
    const auto aligned = exporter->_renderStartTimecode();
    EXPECT_EQ(aligned->bits(), 0);
    EXPECT_NEAR(first->secondsFromTimecode(*aligned), 2.04, 1e-9);  // back to the start of its frame
    EXPECT_EQ(exporter->suggestedFilename(), "1M3_00595524_clix.wav");
    exporter->setExtendHeadToAlignWithFrameBoundary(false);
    EXPECT_NEAR(first->secondsFromTimecode(*exporter->_renderStartTimecode()), 2.03, 0.0125 / 80 * 2);
    exporter->setFormat("AIFF");
    EXPECT_EQ(exporter->suggestedFilename(), "1M3_00595524_clix.wav");
}

TEST_F(ClickTrackExporterTest, GoldenSamplesAtTheExpectedFrames) {
    auto cue = makeCue(2);
    auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
    exporter->setBitDepth(32);
    const std::string path = (folder / "golden.wav").string();
    ASSERT_TRUE(exporter->renderToURL(path));
    const Samples file = readBack(path);
    ASSERT_EQ(file.info.channels, 1);
    ASSERT_EQ(file.info.samplerate, 48000);
    EXPECT_EQ(file.info.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    TLAudioController::setNoisePhase(0.0);
    const std::vector<float> click = audio.createClickSampleAtSampleRate(kRate);
    ASSERT_EQ(click.size(), 720u);
    const auto clicks = clicksOf(*cue);
    ASSERT_EQ(clicks.size(), 13u);  // four warning clicks, two bars and the downbeat at the cue end
    std::vector<float> expected;
    for (const auto& [seconds, sounds] : clicks) {
        const auto start = static_cast<size_t>(std::floor((2.0 + seconds) * kRate));
        EXPECT_EQ(start % 24000, 0u);  // 0.5 s apart
        expected.resize(start, 0.0f);
        if (sounds) expected.insert(expected.end(), click.begin(), click.end());
    }
    EXPECT_EQ(file.data, expected);  // and it ends 15 ms after its last click
}

TEST_F(ClickTrackExporterTest, SilentClicksStillEndTheSegmentBefore) {
    auto cue = makeCue(2, 1);  // only the warning clicks sound
    auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
    exporter->setBitDepth(16);
    exporter->setFormat("AIFF");
    const std::string path = (folder / "mute.aiff").string();
    ASSERT_TRUE(exporter->renderToURL(path));
    const Samples file = readBack(path);
    EXPECT_EQ(file.info.format, SF_FORMAT_AIFF | SF_FORMAT_PCM_16);
    const auto clicks = clicksOf(*cue);
    ASSERT_FALSE(clicks.empty());
    EXPECT_EQ(file.data.size(), static_cast<size_t>(std::floor((2.0 + clicks.back().first) * kRate)) + 720);
    for (const auto& [seconds, sounds] : clicks) {
        const auto start = static_cast<size_t>(std::floor((2.0 + seconds) * kRate));
        EXPECT_EQ(file.data[start + 20] != 0.0f, sounds) << seconds;
    }
}

TEST_F(ClickTrackExporterTest, FileLayoutHoldsFormatAndSamplesOnly) {
    struct Case {
        const char* format;
        int bits;
        const char* name;
        std::vector<std::string> chunks;
    };
    const Case cases[] = {
        {"BWV (WAV)", 24, "a.wav", {"RIFF", "WAVE", "fmt ", "data"}},
        {"BWV (WAV)", 32, "b.wav", {"RIFF", "WAVE", "fmt ", "fact", "data"}},
        {"AIFF", 24, "c.aif", {"FORM", "AIFF", "COMM", "SSND"}},
    };
    auto cue = makeCue(1);
    for (const Case& c : cases) {
        auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
        exporter->setFormat(c.format);
        exporter->setBitDepth(c.bits);
        const std::string path = (folder / c.name).string();
        ASSERT_TRUE(exporter->renderToURL(path));
        const std::vector<char> bytes = bytesOf(path);
        const std::string all(bytes.begin(), bytes.end());
        for (const std::string& chunk : c.chunks)
            EXPECT_NE(all.find(chunk), std::string::npos) << c.name << chunk;
        for (const char* absent : {"bext", "PEAK", "LIST", "cue ", "MARK", "NAME", "(c) ", "APPL"}) {
            EXPECT_EQ(all.find(absent), std::string::npos) << c.name << " has " << absent;
        }
    }
}

TEST_F(ClickTrackExporterTest, FailuresLeaveTheTargetAlone) {
    auto exporter = ClickTrackExporter::exporterWithCue(makeCue(1), audio);
    const std::string path = (folder / "keep.wav").string();
    std::ofstream(path) << "old";
    exporter->setBitDepth(12);
    EXPECT_FALSE(exporter->renderToURL(path));
    exporter->setBitDepth(24);
    exporter->setSampleRate(44100.5);
    EXPECT_FALSE(exporter->renderToURL(path));
    exporter->setSampleRate(48000.0);
    EXPECT_FALSE(exporter->renderToURL(folder.string()));  // a folder is never replaced
    ASSERT_EQ(logged.size(), 3u);
    EXPECT_EQ(
        logged[0],
        "Error: Could not find a supported format for the specified click track export options: 48000Hz, 12 "
        "bit, BWV (WAV)");
    EXPECT_EQ(
        logged[1],
        "Error: Could not find a supported format for the specified click track export options: 44100.5Hz, "
        "24 bit, BWV (WAV)");
    EXPECT_EQ(logged[2].rfind("Error creating click track for export: ", 0), 0u);
    EXPECT_EQ(bytesOf(path), (std::vector<char>{'o', 'l', 'd'}));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);  // no leftovers
    ASSERT_TRUE(exporter->renderToURL(path));
    EXPECT_GT(readBack(path).data.size(), 0u);
}

TEST_F(ClickTrackExporterTest, MissingCueEndAsksAndProgressIsReported) {
    auto cue = makeCue(0);
    auto exporter = ClickTrackExporter::exporterWithCue(cue, audio);
    const std::string path = (folder / "long.wav").string();
    alerts.answer("Cancel");
    EXPECT_FALSE(exporter->commitExport(path));
    ASSERT_EQ(alerts.shownCount(), 1u);
    const Alert alert = alerts.shownAlerts()[0];
    EXPECT_EQ(alert.title, "No cue end event");
    EXPECT_EQ(alert.buttons, (std::vector<std::string>{"Export anyway", "Cancel"}));
    EXPECT_FALSE(fs::exists(path));

    // Virtual wall clock: each reading a tenth of a second later.
    double wall = 0.0;
    exporter->setWallClock([&wall] { return wall += 0.1; });
    std::vector<double> progress;
    bool finished = false;
    exporter->setProgressHandler([&](double fraction) { progress.push_back(fraction); });
    exporter->setFinishHandler([&](bool written) { finished = written; });
    exporter->setSampleRate(8000.0);
    exporter->setBitDepth(16);
    alerts.answer("Export anyway");
    ASSERT_TRUE(exporter->commitExport(path));
    exporter->waitUntilDone();
    EXPECT_TRUE(finished);
    // Reports begin once 0.3 s have passed and are reckoned against 7200 s.
    ASSERT_GT(progress.size(), 100u);
    EXPECT_NEAR(progress.front(), 2.0 / 7200, 0.01);
    EXPECT_NEAR(progress.back(), 1.0, 1e-3);
    // The render stops at the first click at or beyond 7200 s, which is not written.
    const Samples file = readBack(path);
    EXPECT_EQ(file.data.size(), 7200u * 8000u);
}

}  // namespace
}  // namespace tollvane
