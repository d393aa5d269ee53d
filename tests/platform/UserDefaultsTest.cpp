#include "platform/UserDefaults.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "platform/Log.h"
#include "platform/ManualRunLoop.h"
#include "platform/PropertyList.h"
#include "support/ScopedEnvironment.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

Data readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Data(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const Data& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> folderContents(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class UserDefaultsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "tollvane-defaults-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder = pattern;
        file = folder / "Defaults.plist";
        previousSink = Log::setSink([this](const std::string& line) { logged.push_back(line); });
    }
    void TearDown() override {
        Log::setSink(std::move(previousSink));
        fs::remove_all(folder);
    }
    bool loggedSomething(const std::string& part) const {
        for (const auto& line : logged) {
            if (line.find(part) != std::string::npos) return true;
        }
        return false;
    }
    Value fileValue() const { return PropertyList::valueFromData(readFile(file)); }

    fs::path folder;
    fs::path file;
    std::vector<std::string> logged;
    Log::Sink previousSink;
};

ValueDictionary registered() {
    ValueDictionary d;
    d.set("punchSize", Value(0.6));
    d.set("coreMIDIName", Value("Tollvane"));
    d.set("mtcOnline", Value(true));
    return d;
}

TEST_F(UserDefaultsTest, PersistentValuesOverrideRegisteredDefaults) {
    UserDefaults defaults(file.string());
    defaults.registerDefaults(registered());
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("punchSize"), 0.6);
    EXPECT_TRUE(defaults.objectForKey("missing").isNull());

    defaults.setDouble("punchSize", 0.8);
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("punchSize"), 0.8);
    defaults.removeObject("punchSize");
    EXPECT_DOUBLE_EQ(defaults.doubleForKey("punchSize"), 0.6);

    // Registered values are never written.
    defaults.setInteger("launchCount", 1);
    ASSERT_TRUE(defaults.synchronize());
    Value stored = fileValue();
    ASSERT_TRUE(stored.isDictionary());
    EXPECT_EQ(stored.dictionaryValue()->entries.size(), 1u);
    EXPECT_TRUE(stored.dictionaryValue()->contains("launchCount"));
}

TEST_F(UserDefaultsTest, TypedGettersConvert) {
    struct Case {
        Value value;
        bool asBool;
        int64_t asInteger;
        double asDouble;
        std::string asString;
    };
    const Case cases[] = {
        {Value(true), true, 1, 1.0, "1"},
        {Value(false), false, 0, 0.0, "0"},
        {Value(7), true, 7, 7.0, "7"},
        {Value(-3.9), true, -3, -3.9, "-3.9"},
        {Value(0.84), true, 0, 0.84, "0.84"},
        {Value("YES"), true, 0, 0.0, "YES"},
        {Value("true"), true, 0, 0.0, "true"},
        {Value("no"), false, 0, 0.0, "no"},
        {Value("42abc"), true, 42, 42.0, "42abc"},
        {Value("  -17"), true, -17, -17.0, "  -17"},
        {Value("3.5"), true, 3, 3.5, "3.5"},
        {Value("007"), true, 7, 7.0, "007"},
        {Value("99999999999999999999"), true, INT64_MAX, 1e20, "99999999999999999999"},
        {Value(Data{1, 2}), false, 0, 0.0, ""},
        {Value::array({Value(1)}), false, 0, 0.0, ""},
        {Value(), false, 0, 0.0, ""},
    };
    UserDefaults defaults("");
    for (const Case& c : cases) {
        defaults.setObject("k", c.value);
        EXPECT_EQ(defaults.boolForKey("k"), c.asBool) << c.asString;
        EXPECT_EQ(defaults.integerForKey("k"), c.asInteger) << c.asString;
        EXPECT_DOUBLE_EQ(defaults.doubleForKey("k"), c.asDouble) << c.asString;
        EXPECT_EQ(defaults.stringForKey("k"), c.asString);
    }
    defaults.setData("colour", Data{9, 8, 7});
    EXPECT_EQ(defaults.dataForKey("colour"), (Data{9, 8, 7}));
    EXPECT_EQ(defaults.arrayForKey("colour"), nullptr);
    EXPECT_EQ(defaults.dictionaryForKey("colour"), nullptr);
    EXPECT_TRUE(defaults.dataForKey("nothing").empty());
    defaults.setFloat("level", 0.5f);
    EXPECT_FLOAT_EQ(defaults.floatForKey("level"), 0.5f);
}

TEST_F(UserDefaultsTest, ContainersComeOutAsCopies) {
    UserDefaults defaults("");
    Value numbers = Value::array({Value(0), Value(2)});
    defaults.setObject("TLStreamerWindowNumbers", numbers);
    // Neither the caller's container nor a returned one reaches the store.
    numbers.arrayValue()->items.push_back(Value(5));
    auto out = defaults.arrayForKey("TLStreamerWindowNumbers");
    ASSERT_NE(out, nullptr);
    out->items.clear();
    auto again = defaults.arrayForKey("TLStreamerWindowNumbers");
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(again->items.size(), 2u);
}

TEST_F(UserDefaultsTest, NonPropertyListValuesAreRefusedWithALogLine) {
    UserDefaults defaults(file.string());
    defaults.setInteger("k", 1);
    defaults.setObject("k", Value::array({Value()}));
    EXPECT_EQ(defaults.integerForKey("k"), 1);
    EXPECT_TRUE(loggedSomething("\"k\""));
}

TEST_F(UserDefaultsTest, ValuesPersistAcrossInstancesWithTheirTypes) {
    {
        UserDefaults first(file.string());
        first.setInteger("warningBeepPitch", 1000);
        first.setDouble("latencyCompensation", 0.1);
        first.setBool("mtcOnline", false);
        first.setString("coreMIDIName", "Tollvane");
        first.setData("bgColor", Data{0, 1, 2, 255});
        first.setObject("TLStreamerWindowNumbers", Value::array({Value(0), Value(2)}));
        Value frame = Value::dictionary();
        frame.dictionaryValue()->set("x", Value(10));
        first.setObject("nested", frame);
    }
    UserDefaults second(file.string());
    EXPECT_TRUE(second.objectForKey("warningBeepPitch").isInteger());
    EXPECT_EQ(second.integerForKey("warningBeepPitch"), 1000);
    EXPECT_TRUE(second.objectForKey("latencyCompensation").isReal());
    EXPECT_DOUBLE_EQ(second.doubleForKey("latencyCompensation"), 0.1);
    EXPECT_TRUE(second.objectForKey("mtcOnline").isBool());
    EXPECT_FALSE(second.boolForKey("mtcOnline"));
    EXPECT_EQ(second.stringForKey("coreMIDIName"), "Tollvane");
    EXPECT_EQ(second.dataForKey("bgColor"), (Data{0, 1, 2, 255}));
    ASSERT_NE(second.arrayForKey("TLStreamerWindowNumbers"), nullptr);
    EXPECT_EQ(second.arrayForKey("TLStreamerWindowNumbers")->items.size(), 2u);
    ASSERT_NE(second.dictionaryForKey("nested"), nullptr);
    EXPECT_EQ(second.dictionaryForKey("nested")->find("x")->toInt64(), 10);
    EXPECT_TRUE(logged.empty());
}

TEST_F(UserDefaultsTest, WritesAtomicallyLeavingNoTemporaryFile) {
    UserDefaults defaults((folder / "sub" / "Defaults.plist").string());
    for (int i = 0; i < 5; ++i) defaults.setInteger("launchCount", i);
    ASSERT_TRUE(defaults.synchronize());
    EXPECT_EQ(folderContents(folder / "sub"), (std::vector<std::string>{"Defaults.plist"}));
    EXPECT_EQ(fs::status(folder / "sub" / "Defaults.plist").permissions() & fs::perms::others_read,
              fs::perms::none);
}

TEST_F(UserDefaultsTest, CorruptFileIsSetAsideAndTheStoreStartsOnDefaults) {
    Data valid = PropertyList::dataFromValue([] {
        Value d = Value::dictionary();
        d.dictionaryValue()->set("punchSize", Value(0.9));
        return d;
    }());
    const std::pair<const char*, Data> cases[] = {
        {"garbage", Data{'n', 'o', 't', ' ', 'a', ' ', 'p', 'l', 'i', 's', 't'}},
        {"empty", Data{}},
        {"truncated", Data(valid.begin(), valid.end() - 3)},
        {"array at the top", PropertyList::dataFromValue(Value::array({Value(1)}))},
        {"broken XML", Data{'<', 'p', 'l', 'i', 's', 't', '>', '<', 'd', 'i', 'c', 't', '>'}},
    };
    for (const auto& [name, bytes] : cases) {
        fs::remove_all(folder);
        fs::create_directories(folder);
        logged.clear();
        writeFile(file, bytes);

        UserDefaults defaults(file.string());
        defaults.registerDefaults(registered());
        EXPECT_DOUBLE_EQ(defaults.doubleForKey("punchSize"), 0.6) << name;
        EXPECT_TRUE(loggedSomething("damaged")) << name;

        std::vector<std::string> names = folderContents(folder);
        ASSERT_EQ(names.size(), 1u) << name;
        EXPECT_EQ(names[0].rfind("Defaults.plist.corrupt-", 0), 0u) << names[0];
        EXPECT_EQ(readFile(folder / names[0]), bytes) << name;

        // The store goes on and writes a sound file in its place.
        defaults.setDouble("punchSize", 0.7);
        ASSERT_TRUE(defaults.synchronize()) << name;
        EXPECT_DOUBLE_EQ(UserDefaults(file.string()).doubleForKey("punchSize"), 0.7) << name;
    }
}

TEST_F(UserDefaultsTest, UnwritableFolderLogsAndKeepsValuesInMemory) {
    writeFile(folder / "plain-file", Data{'x'});
    UserDefaults defaults((folder / "plain-file" / "Defaults.plist").string());
    defaults.setInteger("launchCount", 3);
    EXPECT_EQ(defaults.integerForKey("launchCount"), 3);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(loggedSomething("could not write"));
    // One line per run of failures, not one per attempt.
    size_t lines = logged.size();
    defaults.setInteger("launchCount", 4);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_EQ(logged.size(), lines);
}

TEST_F(UserDefaultsTest, UnreadableFileIsLeftAlone) {
    fs::create_directories(file);
    UserDefaults defaults(file.string());
    EXPECT_TRUE(loggedSomething("could not read"));
    defaults.setInteger("launchCount", 1);
    EXPECT_FALSE(defaults.synchronize());
    EXPECT_TRUE(fs::is_directory(file));
    EXPECT_EQ(folderContents(folder), (std::vector<std::string>{"Defaults.plist"}));
}

TEST_F(UserDefaultsTest, ObserversHearChangesOfTheirKeyOnly) {
    UserDefaults defaults("");
    defaults.registerDefaults(registered());
    std::vector<std::string> heard;
    auto token = defaults.addObserver("warningBeepOnPunches", [&](const std::string& key) {
        heard.push_back(key + "=" + (defaults.boolForKey(key) ? "on" : "off"));
    });
    defaults.addObserver("punchSize", [&](const std::string& key) { heard.push_back(key); });

    defaults.setBool("warningBeepOnPunches", true);
    defaults.setBool("warningBeepOnPunches", true);
    defaults.setBool("warningBeepOnStreamers", true);
    defaults.setDouble("punchSize", 0.6);
    defaults.setDouble("punchSize", 0.5);
    defaults.removeObject("warningBeepOnPunches");
    defaults.removeObserver(token);
    defaults.setBool("warningBeepOnPunches", true);

    EXPECT_EQ(heard,
              (std::vector<std::string>{"warningBeepOnPunches=on", "punchSize", "warningBeepOnPunches=off"}));
}

TEST_F(UserDefaultsTest, ObserverMayRemoveItself) {
    UserDefaults defaults("");
    int calls = 0;
    UserDefaults::ObserverToken token = 0;
    token = defaults.addObserver("k", [&](const std::string&) {
        ++calls;
        defaults.removeObserver(token);
    });
    defaults.setInteger("k", 1);
    defaults.setInteger("k", 2);
    EXPECT_EQ(calls, 1);
}

TEST_F(UserDefaultsTest, WithAMainRunLoopWritesAreCoalesced) {
    ManualRunLoop loop;
    RunLoop* before = RunLoop::setMain(&loop);
    {
        UserDefaults defaults(file.string());
        defaults.setInteger("a", 1);
        defaults.setInteger("b", 2);
        EXPECT_FALSE(fs::exists(file));
        loop.advance(UserDefaults::writeDelay);
        ASSERT_TRUE(fs::exists(file));
        EXPECT_EQ(fileValue().dictionaryValue()->entries.size(), 2u);

        // A change still waiting for its write is written when the store goes.
        defaults.setInteger("c", 3);
    }
    EXPECT_EQ(fileValue().dictionaryValue()->entries.size(), 3u);

    // Once the loop has shut down, sets write through.
    loop.shutdown();
    UserDefaults defaults(file.string());
    defaults.setInteger("d", 4);
    EXPECT_EQ(fileValue().dictionaryValue()->entries.size(), 4u);
    RunLoop::setMain(before);
}

TEST(UserDefaultsPathTest, FolderComesFromTheEnvironment) {
    {
        ScopedEnvironment config("TOLLVANE_CONFIG_DIR", "/tmp/override");
        ScopedEnvironment xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(UserDefaults::defaultPath(), "/tmp/override/Defaults.plist");
    }
    ScopedEnvironment config("TOLLVANE_CONFIG_DIR", nullptr);
    ScopedEnvironment home("HOME", "/home/someone");
    {
        ScopedEnvironment xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(UserDefaults::defaultPath(), "/xdg/tollvane/Defaults.plist");
    }
    {
        ScopedEnvironment xdg("XDG_CONFIG_HOME", "relative");
        EXPECT_EQ(UserDefaults::defaultPath(), "/home/someone/.config/tollvane/Defaults.plist");
    }
    ScopedEnvironment xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(UserDefaults::defaultPath(), "/home/someone/.config/tollvane/Defaults.plist");
}

}  // namespace
}  // namespace tollvane
