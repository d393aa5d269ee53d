#include "playback/MovieFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace tollvane {
namespace {

const std::string kMovies = std::string(TOLLVANE_TEST_DATA) + "/movies";

class MovieFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tollvane-movie-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        scratch_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(scratch_, ignored);
    }
    std::string write(const std::string& name, const std::string& bytes) {
        const std::string path = scratch_ + "/" + name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }

    std::string scratch_;
};

TEST_F(MovieFileTest, MeasuresMovies) {
    std::string error;
    EXPECT_NEAR(MovieFile::durationOfMovieAtPath(kMovies + "/two-seconds.mov", &error), 2.0, 1e-9);
    EXPECT_NEAR(MovieFile::durationOfMovieAtPath(kMovies + "/sixty-seconds.mov", &error), 60.0, 1e-9);
    EXPECT_TRUE(error.empty());
    const auto movie = MovieFile::movieFileAtPath(kMovies + "/two-seconds.mov", nullptr);
    ASSERT_TRUE(movie);
    EXPECT_EQ(movie->width(), 16);
    EXPECT_EQ(movie->height(), 16);
    EXPECT_GE(movie->videoStreamIndex(), 0);
}

TEST_F(MovieFileTest, ColonsInThePathNameNoProtocol) {
    const std::string path = scratch_ + "/http:reel.mov";
    std::filesystem::copy_file(kMovies + "/two-seconds.mov", path);
    EXPECT_NEAR(MovieFile::durationOfMovieAtPath(path, nullptr), 2.0, 1e-9);
}

std::string wave() {
    // One second of 8-bit mono silence at 8 kHz: sound, but no picture.
    auto le = [](uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
        return out;
    };
    const uint32_t samples = 8000;
    return "RIFF" + le(36 + samples, 4) + "WAVEfmt " + le(16, 4) + le(1, 2) + le(1, 2) + le(8000, 4) +
           le(8000, 4) + le(1, 2) + le(8, 2) + "data" + le(samples, 4) + std::string(samples, '\x80');
}

TEST_F(MovieFileTest, AnythingElseIsMinusOneWithAReason) {
    std::ifstream in(kMovies + "/two-seconds.mov", std::ios::binary);
    const std::string movie((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string fifo = scratch_ + "/fifo.mov";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string paths[] = {
        write("text.mov", "This is a text file with a movie's name.\n"),
        write("empty.mov", ""),
        write("truncated.mov", movie.substr(0, movie.size() / 3)),
        write("sound.wav", wave()),
        scratch_ + "/missing.mov",
        scratch_,
        fifo,
        "http://127.0.0.1:1/reel.mov",
        "",
    };
    for (const std::string& path : paths) {
        std::string error;
        EXPECT_EQ(MovieFile::durationOfMovieAtPath(path, &error), -1.0) << path;
        EXPECT_FALSE(error.empty()) << path;
        EXPECT_FALSE(MovieFile::movieFileAtPath(path, nullptr)) << path;
    }
}

}  // namespace
}  // namespace tollvane
