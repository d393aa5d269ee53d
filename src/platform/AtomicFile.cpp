#include "platform/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace tollvane {

namespace {

bool writeAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

mode_t permissionsFor(const std::string& path, unsigned newFilePermissions) {
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) return existing.st_mode & 07777;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(newFilePermissions) & ~mask;
}

}  // namespace

std::string AtomicFile::write(const std::string& requestedPath, const std::vector<uint8_t>& bytes,
                              unsigned newFilePermissions) {
    std::error_code error;
    // A link is written through, so that it stays a link; anything but a
    // regular file (a folder, a device, a pipe) is never replaced.
    std::string path = requestedPath;
    if (std::filesystem::is_symlink(requestedPath, error)) {
        const auto resolved = std::filesystem::weakly_canonical(requestedPath, error);
        if (error) return "cannot follow the link " + requestedPath + ": " + error.message();
        path = resolved.string();
    }
    const auto status = std::filesystem::status(path, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        return path + " is not a regular file";
    }
    std::filesystem::path target(path);
    std::filesystem::path folder = target.parent_path();
    error.clear();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, error);
        if (error) return "cannot create folder " + folder.string() + ": " + error.message();
    }
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return "cannot create a temporary file: " + std::string(std::strerror(errno));
    bool ok = ::fchmod(fd, permissionsFor(path, newFilePermissions)) == 0 && writeAll(fd, bytes) &&
              ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return std::strerror(savedErrno);
    }
    int folderFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd >= 0) {
        ::fsync(folderFd);
        ::close(folderFd);
    }
    return {};
}

std::string AtomicFile::read(const std::string& path, size_t largest, std::vector<uint8_t>& bytes) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::strerror(errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return "not a regular file";
    }
    if (static_cast<uint64_t>(info.st_size) > largest) {
        ::close(fd);
        return "file too large";
    }
    bytes.assign(static_cast<size_t>(info.st_size), 0);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    ::close(fd);
    // A file that shrank while we read it is read as far as it goes.
    bytes.resize(done);
    return {};
}

}  // namespace tollvane
