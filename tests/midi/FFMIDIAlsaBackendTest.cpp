#include "midi/alsa/FFMIDIAlsaBackend.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "midi/FFMIDIBackendChooser.h"
#include "platform/Log.h"
#include "support/LogCapture.h"

namespace tollvane {
namespace {

constexpr const char* kAbsentSequencer = "/nonexistent/tollvane/snd/seq";

bool sequencerHere() {
    return access(FFMIDIAlsaBackend::defaultSequencerDevice, R_OK | W_OK) == 0;
}

void expectCleanFailure(FFMIDIAlsaBackend& backend) {
    LogCapture capture;
    EXPECT_EQ(backend.start("Tollvane", {}), FFMIDIAlsaBackend::errorNoSequencer);
    EXPECT_TRUE(backend.sources().empty());
    FFMIDIPortRef port = 0;
    FFMIDIUniqueID id = 0;
    EXPECT_NE(backend.createInputPort("in", port), 0);
    EXPECT_NE(backend.createDestination("Tollvane", port, id), 0);
    EXPECT_EQ(backend.connectSource(1, 1), FFMIDIAlsaBackend::errorNoSequencer);
    EXPECT_EQ(backend.setDestinationUniqueID(1, 5), FFMIDIAlsaBackend::errorUnknownObject);
    backend.disposeDestination(1);
    backend.disposeInputPort(1);
    capture.stop();
    EXPECT_TRUE(capture.logged("The ALSA sequencer cannot be opened"))
        << ::testing::PrintToString(capture.lines());
    EXPECT_EQ(capture.standardError(), "");
}

TEST(FFMIDIAlsaBackendTest, StartFailsCleanlyWithoutTheSequencer) {
    FFMIDIAlsaBackend absent(kAbsentSequencer);
    expectCleanFailure(absent);
    if (sequencerHere()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    FFMIDIAlsaBackend standard;
    expectCleanFailure(standard);
    EXPECT_FALSE(FFMIDIAlsaBackend::sequencerAvailable());
}

// A device node that opens with no sequencer behind it: RtMidi itself fails
// (and prints its own line to stderr, which it does before we can stop it).
TEST(FFMIDIAlsaBackendTest, AnRtMidiFailureIsCaughtAndLogged) {
    if (sequencerHere()) GTEST_SKIP() << "this machine has an ALSA sequencer";
    FFMIDIAlsaBackend backend("/dev/null");
    LogCapture capture;
    EXPECT_EQ(backend.start("Tollvane", {}), FFMIDIAlsaBackend::errorNoSequencer);
    EXPECT_TRUE(backend.sources().empty());
    EXPECT_FALSE(FFMIDIAlsaBackend::sequencerAvailable("/dev/null"));
    capture.stop();
    EXPECT_TRUE(capture.logged("ALSA MIDI: ")) << ::testing::PrintToString(capture.lines());
    EXPECT_TRUE(capture.logged("The ALSA sequencer cannot be opened"))
        << ::testing::PrintToString(capture.lines());
    EXPECT_EQ(capture.standardError().find("ALSA lib"), std::string::npos) << capture.standardError();
}

TEST(FFMIDIAlsaBackendTest, StablePortNameDropsOnlyTheClientAndPortNumbers) {
    const std::pair<std::string, std::string> cases[] = {
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through:Midi Through Port-0"},
        {"UM-ONE:UM-ONE MIDI 1 128:10", "UM-ONE:UM-ONE MIDI 1"},
        {"Plain name", "Plain name"},
        {"Name 14:", "Name 14:"},
        {"Name :0", "Name :0"},
        {"Name14:0", "Name14:0"},
        {"Name 1a:0", "Name 1a:0"},
        {"", ""},
    };
    for (const auto& [given, stable] : cases)
        EXPECT_EQ(FFMIDIAlsaBackend::stablePortName(given), stable) << given;
}

TEST(FFMIDIAlsaBackendTest, UniqueIDsAreStableNonZeroAndDistinct) {
    // FNV-1a of "a": the same on every build and launch.
    EXPECT_EQ(static_cast<uint32_t>(FFMIDIAlsaBackend::uniqueIDForPortName("a")), 0xe40c292cu);
    // Replugging renumbers the client; the ID stays.
    EXPECT_EQ(FFMIDIAlsaBackend::uniqueIDForPortName("Synth:Synth MIDI 1 20:0"),
              FFMIDIAlsaBackend::uniqueIDForPortName("Synth:Synth MIDI 1 24:0"));

    const std::vector<std::string> names = {
        "Midi Through:Midi Through Port-0 14:0",
        "UM-ONE:UM-ONE MIDI 1 20:0",
        "UM-ONE:UM-ONE MIDI 1 24:0",  // a second unit of the same model
        "UM-ONE:UM-ONE MIDI 1 28:0",
        "Keyboard:Keyboard MIDI 1 32:0",
        "",
    };
    const FFMIDIUniqueID reserved = FFMIDIAlsaBackend::uniqueIDForPortName("Keyboard:Keyboard MIDI 1");
    const std::vector<FFMIDIUniqueID> ids = FFMIDIAlsaBackend::uniqueIDsForPortNames(names, {reserved});
    ASSERT_EQ(ids.size(), names.size());
    EXPECT_EQ(std::set<FFMIDIUniqueID>(ids.begin(), ids.end()).size(), ids.size());
    for (FFMIDIUniqueID id : ids) {
        EXPECT_NE(id, 0);
        EXPECT_NE(id, reserved);
    }
    EXPECT_EQ(ids[0], FFMIDIAlsaBackend::uniqueIDForPortName(names[0]));
    EXPECT_EQ(ids[1], FFMIDIAlsaBackend::uniqueIDForPortName(names[1]));
    EXPECT_EQ(ids, FFMIDIAlsaBackend::uniqueIDsForPortNames(names, {reserved}));
}

TEST(FFMIDIAlsaBackendTest, ChooserFallsBackAndHonoursForcedNames) {
    const std::string absentJack = "tollvane-absent-" + std::to_string(getpid());
    struct Case {
        std::string forced;
        std::string sequencer;
        std::string expected;  // "" for none
        std::string logged;    // "" for nothing
    };
    const std::string here = FFMIDIAlsaBackend::sequencerAvailable() ? "alsa" : "";
    const Case cases[] = {
        {"", kAbsentSequencer, "loopback", "MIDI input is off (loopback only)"},
        {"", FFMIDIAlsaBackend::defaultSequencerDevice, here.empty() ? "loopback" : "alsa",
         here.empty() ? "loopback only" : ""},
        {"alsa", kAbsentSequencer, "", "MIDI input over ALSA is not available"},
        {"alsa", FFMIDIAlsaBackend::defaultSequencerDevice, here,
         here.empty() ? "MIDI input over ALSA is not available" : ""},
        {"jack", kAbsentSequencer, "", "MIDI input over JACK is not available"},
        {"loopback", kAbsentSequencer, "loopback", ""},
        {"nonsense", kAbsentSequencer, "", "Unknown MIDI system \"nonsense\" (use jack, alsa or loopback)"},
    };
    for (const Case& c : cases) {
        LogCapture capture;
        const auto backend = FFMIDIBackendChooser::chooseBackend(c.forced, absentJack, c.sequencer);
        capture.stop();
        EXPECT_EQ(backend ? backend->name() : std::string(), c.expected) << "'" << c.forced << "'";
        if (c.logged.empty()) {
            EXPECT_TRUE(capture.lines().empty())
                << c.forced << ": " << ::testing::PrintToString(capture.lines());
        } else {
            EXPECT_TRUE(capture.logged(c.logged))
                << c.forced << ": " << ::testing::PrintToString(capture.lines());
        }
        EXPECT_EQ(capture.standardError(), "") << c.forced;
    }
    EXPECT_EQ(FFMIDIBackendChooser::backendNames(), (std::vector<std::string>{"jack", "alsa", "loopback"}));
}

// Needs the kernel's sequencer: not there in containers without /dev/snd.
TEST(FFMIDIAlsaBackendTest, DestinationsKeepTheirOwnDistinctIDs) {
    if (!FFMIDIAlsaBackend::sequencerAvailable()) GTEST_SKIP() << "no ALSA sequencer (/dev/snd/seq) here";
    FFMIDIAlsaBackend backend;
    ASSERT_EQ(backend.start("Tollvane test", {}), 0);
    FFMIDIPortRef first = 0;
    FFMIDIPortRef second = 0;
    FFMIDIUniqueID firstID = 0;
    FFMIDIUniqueID secondID = 0;
    ASSERT_EQ(backend.createDestination("Tollvane", first, firstID), 0);
    ASSERT_EQ(backend.createDestination("Tollvane", second, secondID), 0);
    EXPECT_NE(firstID, 0);
    EXPECT_NE(firstID, secondID);
    EXPECT_EQ(backend.setDestinationUniqueID(second, firstID), FFMIDIAlsaBackend::errorIDNotUnique);
    EXPECT_EQ(backend.setDestinationUniqueID(second, 0), FFMIDIAlsaBackend::errorIDNotUnique);
    EXPECT_EQ(backend.setDestinationUniqueID(first, 12345), 0);
    EXPECT_EQ(backend.setDestinationUniqueID(second, firstID), 0);
    for (const FFMIDIBackend::Source& source : backend.sources()) {
        EXPECT_EQ(backend.setDestinationUniqueID(first, source.uniqueID), FFMIDIAlsaBackend::errorIDNotUnique)
            << source.name;
    }
    FFMIDIPortRef input = 0;
    ASSERT_EQ(backend.createInputPort("MIDI In", input), 0);
    EXPECT_EQ(backend.connectSource(input, 12345), FFMIDIAlsaBackend::errorUnknownObject);
    backend.disposeDestination(first);
    backend.disposeDestination(second);
}

}  // namespace
}  // namespace tollvane
