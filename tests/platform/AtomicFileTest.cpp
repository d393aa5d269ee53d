// Whole-or-nothing file writes and bounded reads.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/AtomicFile.h"

namespace tollvane {
namespace {

namespace fs = std::filesystem;

class AtomicFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            fs::temp_directory_path() / ("tollvane-atomic-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path folder_;
};

TEST_F(AtomicFileTest, ReplacesTheFileKeepingItsPermissionsAndLeavesNoTemporaryFile) {
    const std::string path = (folder_ / "deep" / "cue.tollvane").string();
    ASSERT_EQ(AtomicFile::write(path, {1, 2, 3}), "");
    ::chmod(path.c_str(), 0640);
    ASSERT_EQ(AtomicFile::write(path, {4, 5}), "");

    std::vector<uint8_t> bytes;
    ASSERT_EQ(AtomicFile::read(path, 100, bytes), "");
    EXPECT_EQ(bytes, (std::vector<uint8_t>{4, 5}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "deep"), fs::directory_iterator()), 1);
}

TEST_F(AtomicFileTest, ReadsRefuseWhatTheyCannotTake) {
    const std::string path = (folder_ / "big").string();
    ASSERT_EQ(AtomicFile::write(path, std::vector<uint8_t>(10, 7)), "");
    std::vector<uint8_t> bytes;
    EXPECT_EQ(AtomicFile::read(path, 9, bytes), "file too large");
    EXPECT_NE(AtomicFile::read((folder_ / "missing").string(), 9, bytes), "");
    EXPECT_EQ(AtomicFile::read(folder_.string(), 9, bytes), "not a regular file");
}

TEST_F(AtomicFileTest, AFailedWriteLeavesTheOldFile) {
    const std::string path = (folder_ / "keep").string();
    ASSERT_EQ(AtomicFile::write(path, {9}), "");
    // A folder where the temporary file would go cannot be made: the write
    // fails before it touches the target.
    const std::string blocked = (folder_ / "keep" / "inside").string();
    EXPECT_NE(AtomicFile::write(blocked, {1}), "");
    std::vector<uint8_t> bytes;
    ASSERT_EQ(AtomicFile::read(path, 10, bytes), "");
    EXPECT_EQ(bytes, std::vector<uint8_t>{9});
}

}  // namespace
}  // namespace tollvane

namespace tollvane {
namespace {

TEST_F(AtomicFileTest, WritesThroughLinksAndNeverReplacesWhatIsNoRegularFile) {
    const fs::path real = folder_ / "real.tollvane";
    ASSERT_EQ(AtomicFile::write(real.string(), {1}), "");
    const fs::path link = folder_ / "link.tollvane";
    fs::create_symlink(real, link);
    ASSERT_EQ(AtomicFile::write(link.string(), {2}), "");
    EXPECT_TRUE(fs::is_symlink(link));
    std::vector<uint8_t> bytes;
    ASSERT_EQ(AtomicFile::read(real.string(), 10, bytes), "");
    EXPECT_EQ(bytes, std::vector<uint8_t>{2});

    fs::create_directory(folder_ / "folder");
    EXPECT_NE(AtomicFile::write((folder_ / "folder").string(), {3}), "");
    EXPECT_TRUE(fs::is_directory(folder_ / "folder"));
    EXPECT_NE(AtomicFile::write("/dev/null", {3}), "");
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
}

}  // namespace
}  // namespace tollvane
