#pragma once

// Writing a file so that it is either wholly the old one or wholly the new
// one, even across a crash: a temporary file in the same folder, flushed to
// disk, renamed over the target, and the folder flushed so that the rename
// itself lasts. A failed write leaves the old file as it was.
//
// A link is written through (the file it points at is replaced and the link
// stays); a target that exists but is no regular file (a folder, a device, a
// pipe) is refused and left alone.
//
// The new file keeps the permission bits of the file it replaces; a new file
// gets `newFilePermissions` (0666 unless a caller keeps its file private)
// less the process's umask.
//
// Threads: any thread; calls on different paths are independent.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tollvane {

struct AtomicFile {
    // Answers "" on success, else what failed (for a message to the user).
    // Missing folders on the way are created.
    static std::string write(const std::string& path, const std::vector<uint8_t>& bytes,
                             unsigned newFilePermissions = 0666);

    // Reads a whole file of at most `largest` bytes. Answers "" on success,
    // else what failed ("file too large" for a bigger one).
    static std::string read(const std::string& path, size_t largest, std::vector<uint8_t>& bytes);
};

}  // namespace tollvane
