#include "platform/UserDefaults.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "platform/AtomicFile.h"
#include "platform/Log.h"
#include "platform/PropertyList.h"
#include "platform/RunLoop.h"

namespace tollvane {

namespace {

constexpr const char* kFileName = "Defaults.plist";
// A defaults file is a few kilobytes; anything this large is not one.
constexpr off_t kLargestFile = 16 * 1024 * 1024;

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

// Stored values are the store's own: copies in and out keep callers'
// containers from changing it behind its lock.
Value deepCopy(const Value& value) {
    if (value.isArray()) {
        auto copy = std::make_shared<ValueArray>();
        copy->isMutable = value.arrayValue()->isMutable;
        copy->items.reserve(value.arrayValue()->items.size());
        for (const Value& item : value.arrayValue()->items) copy->items.push_back(deepCopy(item));
        return Value(std::move(copy));
    }
    if (value.isDictionary()) {
        auto copy = std::make_shared<ValueDictionary>();
        copy->isMutable = value.dictionaryValue()->isMutable;
        copy->entries.reserve(value.dictionaryValue()->entries.size());
        for (const auto& [key, item] : value.dictionaryValue()->entries) {
            copy->entries.emplace_back(deepCopy(key), deepCopy(item));
        }
        return Value(std::move(copy));
    }
    return value;
}

size_t skipNumberPrefix(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r')) ++i;
    return i;
}

// A string's truth as the platform reads it: after blanks, a sign and zeros,
// "Y", "y", "T", "t" or a digit 1-9 means true.
bool boolFromString(std::string_view text) {
    size_t i = skipNumberPrefix(text);
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    while (i < text.size() && text[i] == '0') ++i;
    if (i >= text.size()) return false;
    char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

// The leading decimal integer, saturating; 0 when there is none.
int64_t integerFromString(std::string_view text) {
    size_t i = skipNumberPrefix(text);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    int64_t result = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        int digit = text[i] - '0';
        if (!negative && result > (INT64_MAX - digit) / 10) return INT64_MAX;
        if (negative && result < (INT64_MIN + digit) / 10) return INT64_MIN;
        result = negative ? result * 10 - digit : result * 10 + digit;
    }
    return result;
}

double doubleFromString(std::string_view text) {
    size_t i = skipNumberPrefix(text);
    if (i < text.size() && text[i] == '+') ++i;
    double result = 0.0;
    auto [end, error] = std::from_chars(text.data() + i, text.data() + text.size(), result);
    (void)end;
    return error == std::errc() ? result : 0.0;
}

std::string stringFromNumber(const Value& value) {
    if (value.isReal()) {
        char buffer[32];
        auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value.toDouble());
        if (error == std::errc()) return std::string(buffer, end);
    }
    return std::to_string(value.toInt64());
}

std::string timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y%m%d-%H%M%S", &local);
    return buffer;
}

}  // namespace

UserDefaults& UserDefaults::standardUserDefaults() {
    // Never destroyed, so that nothing touches it after other statics are
    // gone; the exit hook writes what is pending.
    static UserDefaults* const standard = [] {
        auto* defaults = new UserDefaults(defaultPath());
        std::atexit([] { standardUserDefaults().synchronize(); });
        return defaults;
    }();
    return *standard;
}

std::string UserDefaults::defaultPath() {
    std::string folder = environment("TOLLVANE_CONFIG_DIR");
    if (folder.empty()) {
        std::string config = environment("XDG_CONFIG_HOME");
        // Relative values are to be ignored, as the base-directory convention says.
        if (config.empty() || config.front() != '/') {
            std::string home = environment("HOME");
            if (home.empty()) {
                if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir) home = user->pw_dir;
            }
            if (home.empty()) {
                TLLog("Warning: no home folder found; user defaults are kept in memory only.");
                return {};
            }
            config = home + "/.config";
        }
        folder = config + "/tollvane";
    }
    return (std::filesystem::path(folder) / kFileName).string();
}

UserDefaults::UserDefaults(std::string path) : path_(std::move(path)) {
    persistent_.isMutable = true;
    registered_.isMutable = true;
    load();
}

UserDefaults::~UserDefaults() {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timer = std::move(writeTimer_);
    }
    if (timer) timer->invalidate();
    synchronize();
}

void UserDefaults::load() {
    if (path_.empty()) return;
    int fd = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        // No file yet (or no folder for it): a first launch.
        if (errno == ENOENT || errno == ENOTDIR) return;
        TLLog(
            "Warning: could not read the user defaults file %s (%s); starting on defaults and leaving it "
            "alone.",
            path_.c_str(), std::strerror(errno));
        readOnly_ = true;
        return;
    }
    struct stat info {};
    Data bytes;
    std::string unreadable;
    bool tooLarge = false;
    if (::fstat(fd, &info) != 0) {
        unreadable = std::strerror(errno);
    } else if (!S_ISREG(info.st_mode)) {
        unreadable = "not a regular file";
    } else if (info.st_size > kLargestFile) {
        tooLarge = true;
    } else {
        bytes.resize(static_cast<size_t>(info.st_size));
        size_t got = 0;
        while (got < bytes.size()) {
            ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                unreadable = std::strerror(errno);
                break;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
    }
    ::close(fd);
    if (!unreadable.empty()) {
        TLLog(
            "Warning: could not read the user defaults file %s (%s); starting on defaults and leaving it "
            "alone.",
            path_.c_str(), unreadable.c_str());
        readOnly_ = true;
        return;
    }
    if (tooLarge) {
        setAside("file too large");
        return;
    }
    try {
        Value root = PropertyList::valueFromData(bytes);
        if (!root.isDictionary()) throw PropertyListError("the top value is not a dictionary");
        for (auto& [key, value] : root.dictionaryValue()->entries) {
            if (key.isString()) persistent_.set(key.stringValue(), std::move(value));
        }
    } catch (const PropertyListError& error) {
        setAside(error.what());
    }
}

void UserDefaults::setAside(const std::string& reason) {
    std::string aside = path_ + ".corrupt-" + timestamp();
    std::error_code ignored;
    for (int n = 2; std::filesystem::exists(aside, ignored); ++n) {
        aside = path_ + ".corrupt-" + timestamp() + "-" + std::to_string(n);
    }
    if (::rename(path_.c_str(), aside.c_str()) == 0) {
        TLLog(
            "Warning: the user defaults file %s is damaged (%s); it was set aside as %s. Starting on "
            "defaults.",
            path_.c_str(), reason.c_str(), aside.c_str());
    } else {
        TLLog(
            "Warning: the user defaults file %s is damaged (%s) and could not be set aside (%s). Starting on "
            "defaults.",
            path_.c_str(), reason.c_str(), std::strerror(errno));
    }
}

void UserDefaults::registerDefaults(const ValueDictionary& defaults) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [key, value] : defaults.entries) {
        if (key.isString()) registered_.set(key.stringValue(), deepCopy(value));
    }
}

Value UserDefaults::lookupLocked(std::string_view key) const {
    if (const Value* value = persistent_.find(key)) return *value;
    if (const Value* value = registered_.find(key)) return *value;
    return Value();
}

Value UserDefaults::objectForKey(std::string_view key) const {
    Value value;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        value = lookupLocked(key);
    }
    // Stored containers are never edited in place, only replaced, so the copy
    // can be made outside the lock.
    return deepCopy(value);
}

bool UserDefaults::boolForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (value.isString()) return boolFromString(value.stringValue());
    return value.toBool();
}

int64_t UserDefaults::integerForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (value.isString()) return integerFromString(value.stringValue());
    return value.toInt64();
}

double UserDefaults::doubleForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (value.isString()) return doubleFromString(value.stringValue());
    return value.toDouble();
}

std::string UserDefaults::stringForKey(std::string_view key) const {
    Value value = objectForKey(key);
    if (value.isString()) return value.stringValue();
    if (value.isNumber()) return stringFromNumber(value);
    return {};
}

Data UserDefaults::dataForKey(std::string_view key) const {
    return objectForKey(key).dataValue();
}

std::shared_ptr<ValueArray> UserDefaults::arrayForKey(std::string_view key) const {
    return objectForKey(key).arrayValue();
}

std::shared_ptr<ValueDictionary> UserDefaults::dictionaryForKey(std::string_view key) const {
    return objectForKey(key).dictionaryValue();
}

void UserDefaults::setObject(std::string_view key, const Value& value) {
    std::string problem;
    if (!value.isNull() && !PropertyList::isPropertyList(value, &problem)) {
        TLLog("Warning: user default \"%.*s\" not set: %s.", static_cast<int>(key.size()), key.data(),
              problem.c_str());
        return;
    }
    Value stored = deepCopy(value);
    std::vector<std::shared_ptr<Registration>> toTell;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Value before = lookupLocked(key);
        if (stored.isNull()) {
            if (persistent_.erase(key)) dirty_ = true;
        } else {
            persistent_.set(key, stored);
            dirty_ = true;
        }
        Value after = lookupLocked(key);
        if (!(before == after)) {
            for (const auto& registration : observers_) {
                if (registration->key == key) toTell.push_back(registration);
            }
        }
    }
    scheduleWrite();
    std::string name(key);
    for (const auto& registration : toTell) {
        if (registration->active.load(std::memory_order_acquire)) registration->observer(name);
    }
}

void UserDefaults::scheduleWrite() {
    if (path_.empty()) return;
    if (RunLoop* loop = RunLoop::mainIfInstalled()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!dirty_ || (writeTimer_ && writeTimer_->isValid())) return;
        writeTimer_ = loop->scheduleTimer(writeDelay, false, [this] { synchronize(); });
        // A loop that has shut down answers an invalid timer: write through instead.
        if (writeTimer_->isValid()) return;
    }
    synchronize();
}

UserDefaults::ObserverToken UserDefaults::addObserver(std::string_view key, Observer observer) {
    auto registration = std::make_shared<Registration>();
    registration->key = std::string(key);
    registration->observer = std::move(observer);
    std::lock_guard<std::mutex> lock(mutex_);
    registration->token = nextToken_++;
    observers_.push_back(registration);
    return registration->token;
}

void UserDefaults::removeObserver(ObserverToken token) {
    std::shared_ptr<Registration> removed;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = observers_.begin(); it != observers_.end(); ++it) {
        if ((*it)->token == token) {
            removed = *it;
            removed->active.store(false, std::memory_order_release);
            observers_.erase(it);
            break;
        }
    }
}

bool UserDefaults::synchronize() {
    if (path_.empty()) return true;
    std::lock_guard<std::mutex> writing(writeMutex_);
    Data bytes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (readOnly_) return false;
        if (!dirty_) return !writeFailing_;
        try {
            auto snapshot = std::make_shared<ValueDictionary>(persistent_);
            bytes = PropertyList::dataFromValue(Value(std::move(snapshot)));
        } catch (const PropertyListError& error) {
            // Values are checked when set, so this is a fault of ours; keep going in memory.
            TLLog("Warning: could not encode the user defaults: %s.", error.what());
            return false;
        }
        dirty_ = false;
    }
    std::string failure = AtomicFile::write(path_, bytes, 0600);
    if (failure.empty()) {
        if (writeFailing_) TLLog("User defaults written to %s again.", path_.c_str());
        writeFailing_ = false;
        return true;
    }
    // Logged once per run of failures, not at every set.
    if (!writeFailing_)
        TLLog("Warning: could not write the user defaults to %s: %s.", path_.c_str(), failure.c_str());
    writeFailing_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        dirty_ = true;
    }
    return false;
}

}  // namespace tollvane
