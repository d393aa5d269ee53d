#include "playback/MovieFile.h"

#include <filesystem>
#include <system_error>

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
}

namespace tollvane {

namespace {

std::string libraryError(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, text, sizeof text) < 0) return "error " + std::to_string(code);
    return text;
}

void setError(std::string* error, std::string text) {
    if (error) *error = std::move(text);
}

// A picture track that is more than a cover image.
int findVideoStream(const AVFormatContext& format) {
    for (unsigned i = 0; i < format.nb_streams; ++i) {
        const AVStream* stream = format.streams[i];
        if (stream->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) continue;
        if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        return static_cast<int>(i);
    }
    return -1;
}

double lengthInSeconds(const AVFormatContext& format, const AVStream& video) {
    if (format.duration != AV_NOPTS_VALUE && format.duration > 0) {
        return static_cast<double>(format.duration) / AV_TIME_BASE;
    }
    if (video.duration != AV_NOPTS_VALUE && video.duration > 0) {
        return static_cast<double>(video.duration) * av_q2d(video.time_base);
    }
    return 0.0;
}

}  // namespace

MovieFile::~MovieFile() {
    if (format_) avformat_close_input(&format_);
}

std::unique_ptr<MovieFile> MovieFile::movieFileAtPath(const std::string& path, std::string* error) {
    std::error_code code;
    const auto status = std::filesystem::status(path, code);
    if (code) {
        setError(error, code.message());
        return nullptr;
    }
    if (!std::filesystem::is_regular_file(status)) {
        setError(error, "not a regular file");
        return nullptr;
    }

    std::unique_ptr<MovieFile> movie(new MovieFile());
    movie->path_ = path;

    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    // The "file:" prefix keeps a colon in the path from naming a protocol.
    const std::string url = "file:" + path;
    int result = avformat_open_input(&movie->format_, url.c_str(), nullptr, &options);
    av_dict_free(&options);
    if (result < 0) {
        movie->format_ = nullptr;
        setError(error, libraryError(result));
        return nullptr;
    }
    result = avformat_find_stream_info(movie->format_, nullptr);
    if (result < 0) {
        setError(error, libraryError(result));
        return nullptr;
    }
    movie->videoStreamIndex_ = findVideoStream(*movie->format_);
    if (movie->videoStreamIndex_ < 0) {
        setError(error, "no video track");
        return nullptr;
    }
    movie->duration_ = lengthInSeconds(*movie->format_, *movie->format_->streams[movie->videoStreamIndex_]);
    if (!(movie->duration_ > 0.0)) {
        setError(error, "unknown duration");
        return nullptr;
    }
    return movie;
}

double MovieFile::durationOfMovieAtPath(const std::string& path, std::string* error) {
    const auto movie = movieFileAtPath(path, error);
    return movie ? movie->duration() : -1.0;
}

int MovieFile::width() const {
    return format_->streams[videoStreamIndex_]->codecpar->width;
}

int MovieFile::height() const {
    return format_->streams[videoStreamIndex_]->codecpar->height;
}

}  // namespace tollvane
