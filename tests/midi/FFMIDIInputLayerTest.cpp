#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "midi/FFMIDIClient.h"
#include "midi/FFMIDIMessageDestination.h"
#include "midi/FFMIDIPortInputStream.h"
#include "midi/FFMIDIVirtualInputStream.h"
#include "midi/FFMIDIVoiceMessage.h"
#include "midi/loopback/FFMIDILoopbackBackend.h"
#include "platform/HostClock.h"
#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/NotificationCenter.h"
#include "platform/UserDefaults.h"

namespace tollvane {
namespace {

struct Batches : FFMIDIMessageDestination {
    std::vector<FFMIDIMessageList> batches;
    void takeMIDIMessages(const FFMIDIMessageList& messages) override { batches.push_back(messages); }
    size_t messageCount() const {
        size_t count = 0;
        for (const auto& batch : batches) count += batch.size();
        return count;
    }
};

FFMIDIPacketList list(uint64_t timeStamp, std::initializer_list<uint8_t> bytes) {
    FFMIDIPacketList packets;
    packets.addPacket(timeStamp, bytes);
    return packets;
}

class InputLayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousLoop_ = RunLoop::setMain(&loop_);
        previousClock_ = HostClock::setShared(&loop_.clock());
        previousSink_ = Log::setSink([this](const std::string& line) { logged_.push_back(line); });
        auto backend = std::make_unique<FFMIDILoopbackBackend>();
        backend_ = backend.get();
        backend_->addSource(101, "Desk");
        backend_->addSource(202, "Recorder");
        client_ = std::make_unique<FFMIDIClient>(std::move(backend), "Tollvane", loop_);
    }
    void TearDown() override {
        client_.reset();
        Log::setSink(previousSink_);
        HostClock::setShared(previousClock_);
        RunLoop::setMain(previousLoop_);
    }

    ManualRunLoop loop_{5000};
    RunLoop* previousLoop_ = nullptr;
    const HostClock* previousClock_ = nullptr;
    Log::Sink previousSink_;
    std::vector<std::string> logged_;
    FFMIDILoopbackBackend* backend_ = nullptr;
    std::unique_ptr<FFMIDIClient> client_;
    Batches batches_;
};

TEST_F(InputLayerTest, SourcesKeepTheirObjectsAndIDsAcrossSetupChanges) {
    const auto before = client_->sources();
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(before[0]->uniqueID(), 101);
    EXPECT_EQ(before[0]->name(), "Desk");
    EXPECT_EQ(before[1]->name(), "Recorder");

    int notified = 0;
    auto& center = NotificationCenter::defaultCenter();
    const auto token = center.addObserver(FFMIDIClientSetupChangedNotification, client_.get(),
                                          [&](const Notification&) { ++notified; });
    backend_->addSource(303, "Keys");
    backend_->addSource(101, "Desk (renamed)");
    EXPECT_EQ(notified, 0);  // told on the main run loop, not on the backend's thread
    loop_.runPending();
    EXPECT_EQ(notified, 2);
    center.removeObserver(token);

    const auto after = client_->sources();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[0], before[0]);
    EXPECT_EQ(after[0]->name(), "Desk (renamed)");
    EXPECT_EQ(client_->sourceWithUniqueID(303)->name(), "Keys");
    EXPECT_EQ(client_->sourceWithUniqueID(999), nullptr);
}

TEST_F(InputLayerTest, SelectedSourcesAreDeliveredOnTheMainThreadWithTheirTimes) {
    FFMIDIPortInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    stream.setInputSources({client_->sourceWithUniqueID(202)});

    EXPECT_FALSE(backend_->sendFromSource(101, list(7000, {0x90, 0x3C, 0x64})));
    EXPECT_TRUE(backend_->sendFromSource(202, list(7001, {0x90, 0x3D, 0x64})));
    EXPECT_TRUE(batches_.batches.empty());
    loop_.runPending();
    ASSERT_EQ(batches_.batches.size(), 1u);
    const auto& message = *batches_.batches[0][0];
    EXPECT_EQ(message.timeStamp(), 7001u);
    EXPECT_EQ(message.originatingEndpoint(), client_->sourceWithUniqueID(202));

    // All present sources, then none.
    stream.setInputSources(client_->sources());
    backend_->sendFromSource(101, list(7002, {0xF8}));
    backend_->sendFromSource(202, list(7003, {0xFA}));
    loop_.runPending();
    EXPECT_EQ(batches_.batches.size(), 3u);
    stream.removeAllInputSources();
    EXPECT_FALSE(backend_->sendFromSource(101, list(7004, {0xF8})));
}

TEST_F(InputLayerTest, ATimeStampOfZeroMeansTheMomentOfArrival) {
    FFMIDIPortInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    stream.addInputSource(client_->sourceWithUniqueID(101));
    backend_->sendFromSource(101, list(0, {0xF8}));
    loop_.advance(0.5);
    ASSERT_EQ(batches_.batches.size(), 1u);
    EXPECT_EQ(batches_.batches[0][0]->timeStamp(), 5000u);
}

TEST_F(InputLayerTest, EachSourceHasItsOwnParser) {
    FFMIDIPortInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    stream.setInputSources(client_->sources());
    backend_->sendFromSource(101, list(1, {0xF0, 0x01}));
    backend_->sendFromSource(202, list(2, {0x90, 0x3C, 0x64}));  // does not cut the other source's sysex
    backend_->sendFromSource(101, list(3, {0x02, 0xF7}));
    loop_.runPending();
    ASSERT_EQ(batches_.batches.size(), 2u);
    EXPECT_EQ(batches_.batches[1][0]->otherData(), (std::vector<uint8_t>{0x01, 0x02, 0xF7}));
}

TEST_F(InputLayerTest, ListsFromAnotherThreadArriveInOrderAndWholeOnTheMainThread) {
    FFMIDIPortInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    stream.addInputSource(client_->sourceWithUniqueID(101));
    constexpr int kLists = 500;
    std::thread sender([&] {
        for (int i = 0; i < kLists; ++i)
            backend_->sendFromSource(101, list(100 + i, {0xF1, uint8_t(i & 0x7F)}));
    });
    while (batches_.batches.size() < kLists) {
        loop_.waitForPostedWork();
        loop_.runPending();
    }
    sender.join();
    for (int i = 0; i < kLists; ++i) EXPECT_EQ(batches_.batches[i][0]->timeStamp(), uint64_t(100 + i));
}

TEST_F(InputLayerTest, RefusedPortsAndConnectionsAreLogged) {
    backend_->failNextPortCreation(-50);
    EXPECT_THROW(FFMIDIPortInputStream stream(*client_), std::runtime_error);
    FFMIDIPortInputStream stream(*client_);
    backend_->failNextConnection(-10830);
    stream.addInputSource(client_->sourceWithUniqueID(101));
    EXPECT_TRUE(stream.inputSources().empty());
    EXPECT_EQ(logged_, (std::vector<std::string>{"Couldn't create a MIDI input port (error -50)",
                                                 "Error from MIDIPortConnectSource: -10830"}));
}

TEST_F(InputLayerTest, VirtualDestinationIsNamedAfterTheClientAndStampsItself) {
    FFMIDIVirtualInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    EXPECT_FALSE(stream.isActive());
    stream.setActive(true);
    ASSERT_TRUE(stream.isActive());
    ASSERT_EQ(backend_->destinations().size(), 1u);
    EXPECT_EQ(backend_->destinations()[0].name, "Tollvane");
    EXPECT_TRUE(backend_->sendToDestinationNamed("Tollvane", list(9, {0xB0, 0x40, 0x7F})));
    loop_.runPending();
    ASSERT_EQ(batches_.batches.size(), 1u);
    EXPECT_EQ(batches_.batches[0][0]->originatingEndpoint(), stream.endpoint());
    stream.setActive(false);
    EXPECT_TRUE(backend_->destinations().empty());
}

TEST_F(InputLayerTest, VirtualDestinationKeepsItsUniqueIDAcrossLaunches) {
    UserDefaults defaults("");
    FFMIDIUniqueID first = 0;
    {
        FFMIDIVirtualInputStream stream(*client_);
        stream.setActive(true);
        stream.keepUniqueIDAcrossLaunches(defaults);
        first = stream.uniqueID();
        EXPECT_EQ(defaults.integerForKey("internalVirtualInputStreamID"), first);
    }
    // A new launch: the backend would hand out another ID; the kept one wins.
    auto backend = std::make_unique<FFMIDILoopbackBackend>();
    FFMIDILoopbackBackend* second = backend.get();
    FFMIDIPortRef port = 0;
    FFMIDIUniqueID taken = 0;
    second->createDestination("someone else", port, taken);
    second->disposeDestination(port);
    FFMIDIClient client(std::move(backend), "Tollvane", loop_);
    FFMIDIVirtualInputStream stream(client);
    stream.setActive(true);
    EXPECT_NE(stream.uniqueID(), first);
    stream.keepUniqueIDAcrossLaunches(defaults);
    EXPECT_EQ(stream.uniqueID(), first);
    EXPECT_TRUE(second->sendToDestination(first, list(1, {0xF8})));

    // A kept ID that is taken is refused; the destination keeps its own and stores it.
    defaults.setInteger("internalVirtualInputStreamID", 101);
    FFMIDIVirtualInputStream other(*client_);
    other.setActive(true);
    other.keepUniqueIDAcrossLaunches(defaults);
    EXPECT_NE(other.uniqueID(), 101);
    EXPECT_EQ(defaults.integerForKey("internalVirtualInputStreamID"), other.uniqueID());
}

TEST_F(InputLayerTest, SysExProgressIsPostedWithTheSource) {
    FFMIDIPortInputStream stream(*client_);
    stream.setMessageDestination(&batches_);
    stream.addInputSource(client_->sourceWithUniqueID(101));
    std::vector<Notification> seen;
    auto& center = NotificationCenter::defaultCenter();
    const auto reading = center.addObserver(FFMIDIInputStreamReadingSysExNotification, &stream,
                                            [&](const Notification& n) { seen.push_back(n); });
    const auto done = center.addObserver(FFMIDIInputStreamDoneReadingSysExNotification, &stream,
                                         [&](const Notification& n) { seen.push_back(n); });
    backend_->sendFromSource(101, list(1, {0xF0, 0x43, 0x10, 0xF7}));
    loop_.runPending();
    center.removeObserver(reading);
    center.removeObserver(done);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].userInfo.at("length").toInt64(), 1);
    EXPECT_EQ(seen[0].userInfo.at("source").toInt64(), 101);
    EXPECT_EQ(seen[1].userInfo.at("length").toInt64(), 4);
    EXPECT_TRUE(seen[1].userInfo.at("valid").toBool());
}

TEST_F(InputLayerTest, ListsQueuedForADisconnectedSourceOrAGoneClientAreDropped) {
    auto stream = std::make_unique<FFMIDIPortInputStream>(*client_);
    stream->setMessageDestination(&batches_);
    stream->addInputSource(client_->sourceWithUniqueID(101));
    backend_->sendFromSource(101, list(1, {0xF8}));
    stream->removeAllInputSources();
    loop_.runPending();
    EXPECT_TRUE(batches_.batches.empty());

    stream->addInputSource(client_->sourceWithUniqueID(101));
    backend_->sendFromSource(101, list(1, {0xF8}));
    stream.reset();
    client_.reset();
    loop_.runPending();
    EXPECT_TRUE(batches_.batches.empty());
}

TEST_F(InputLayerTest, ADestinationMayDeselectTheSourceWhileTakingItsBatch) {
    struct Deselecting : FFMIDIMessageDestination {
        FFMIDIPortInputStream* stream = nullptr;
        int taken = 0;
        void takeMIDIMessages(const FFMIDIMessageList&) override {
            ++taken;
            stream->removeAllInputSources();
        }
    } destination;
    FFMIDIPortInputStream stream(*client_);
    destination.stream = &stream;
    stream.setMessageDestination(&destination);
    stream.addInputSource(client_->sourceWithUniqueID(101));
    // The list leaves a sysex open, so the parser would arm its timeout after the batch.
    backend_->sendFromSource(101, list(1, {0xF8, 0xF0, 0x01}));
    loop_.advance(2);
    EXPECT_EQ(destination.taken, 1);
    EXPECT_TRUE(stream.inputSources().empty());
}

}  // namespace
}  // namespace tollvane
