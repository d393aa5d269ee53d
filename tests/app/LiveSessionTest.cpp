// The command line's live pieces that need no server: the --output form, the
// console streamer view (delayed punches shown when due, at their own time,
// and dropped when cancelled) and the log's status lines off a terminal.

#include <gtest/gtest.h>

#include <sstream>

#include "app/cli/CommandLineError.h"
#include "app/cli/ConsoleStreamerView.h"
#include "app/cli/LiveLog.h"
#include "app/cli/LiveSession.h"
#include "platform/ManualRunLoop.h"
#include "playback/SyncController.h"

namespace tollvane {
namespace {

TEST(LiveSessionOutputTest, ParsesDeviceChannelAndStereoAndRefusesTheRest) {
    struct Case {
        const char* text;
        const char* device;
        int channel;
        bool stereo;
    };
    for (const Case& c : {Case{"JACK (default):1", "JACK (default)", 1, false},
                          Case{"hw:0,0:3:stereo", "hw:0,0", 3, true}, Case{"7:2", "7", 2, false}}) {
        const LiveSession::Output output = LiveSession::parseOutput(c.text);
        EXPECT_EQ(output.device, c.device) << c.text;
        EXPECT_EQ(output.channel, c.channel) << c.text;
        EXPECT_EQ(output.stereo, c.stereo) << c.text;
    }
    for (const char* bad : {"device", ":1", "device:0", "device:x", "device:1:mono", "device:stereo"})
        EXPECT_THROW(LiveSession::parseOutput(bad), CommandLineError) << bad;
}

class ConsoleStreamerViewTest : public ::testing::Test {
protected:
    ManualRunLoop loop{1'000'000'000'000};
    SyncController sync{loop.clock()};
    std::ostringstream out;
    LiveLog log{out, sync, false};
    ConsoleStreamerView view{0, &log, loop.clock(), loop};
};

TEST_F(ConsoleStreamerViewTest, ADelayedPunchIsShownWhenDueAtItsOwnTimeUnlessCancelled) {
    view.addPunchWithRed(1, 1, 1, 2, 1, 0.25);
    EXPECT_EQ(out.str(), "");
    loop.advance(0.3);
    EXPECT_NE(out.str().find("1000.250000"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("punch, 2 holes, size 1, rgb 1.00 1.00 1.00"), std::string::npos);
    EXPECT_EQ(view.counts().punches, 1);

    view.addPunchWithRed(1, 0, 0, 1, 1, 0.5);
    view.cancelAllPunches();
    loop.advance(1.0);
    EXPECT_EQ(view.counts().punches, 1);
    EXPECT_NE(out.str().find("punches cancelled"), std::string::npos);
}

TEST_F(ConsoleStreamerViewTest, StatusLinesOffATerminalComeOnlyWhenTheStablePartChanges) {
    log.status(loop.clock().now(), "1:00:00:00  chasing  1|1", "chasing");
    log.status(loop.clock().now(), "1:00:00:01  chasing  1|2", "chasing");
    log.status(loop.clock().now(), "1:00:00:02  waiting", "waiting for MTC");
    std::istringstream lines(out.str());
    std::string first, second, third;
    std::getline(lines, first);
    std::getline(lines, second);
    EXPECT_NE(first.find("status chasing"), std::string::npos) << out.str();
    EXPECT_NE(second.find("status waiting for MTC"), std::string::npos) << out.str();
    EXPECT_FALSE(std::getline(lines, third));
}

}  // namespace
}  // namespace tollvane
