#pragma once

// A movie file opened with FFmpeg's libavformat: its length and its picture.
// Reels measure their movies with it; the movie player reads its frames
// through it.
//
// Only the local file protocol is allowed, so a path taken from a document
// can never make the library open a network address or another of its
// protocols, and only regular files are opened (a FIFO or a device would
// block the caller or never end).
//
// Threads: any thread; one MovieFile is used by one thread at a time.

#include <memory>
#include <string>

struct AVFormatContext;

namespace tollvane {

class MovieFile {
public:
    ~MovieFile();
    MovieFile(const MovieFile&) = delete;
    MovieFile& operator=(const MovieFile&) = delete;

    // The opened movie, or null with `error` (when given) saying why: the
    // file is missing, unreadable, of no format the library knows, without
    // a picture track, or of unknown length.
    static std::unique_ptr<MovieFile> movieFileAtPath(const std::string& path, std::string* error);
    // The movie's length in seconds, or -1.0 with `error` saying why.
    static double durationOfMovieAtPath(const std::string& path, std::string* error);

    const std::string& path() const { return path_; }
    // Seconds, above 0.
    double duration() const { return duration_; }
    int videoStreamIndex() const { return videoStreamIndex_; }
    int width() const;
    int height() const;

private:
    MovieFile() = default;

    std::string path_;
    AVFormatContext* format_ = nullptr;
    int videoStreamIndex_ = -1;
    double duration_ = 0.0;
};

}  // namespace tollvane
