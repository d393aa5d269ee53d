#include "audio/ClickTrackExporter.h"

#include <fcntl.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "audio/TLAudioController.h"
#include "model/Cue.h"
#include "model/CueEventCueEnd.h"
#include "platform/AlertPresenter.h"
#include "platform/Log.h"
#include "platform/RunLoop.h"

namespace tollvane {

namespace {

constexpr const char* kPrerollKey = "ExportClickTrackSecondsPrerollBeforeFirstClick";
constexpr const char* kExtendKey = "ExportClickTrackExtendHeadToAlignWithFrameBoundary";
constexpr const char* kSampleRateKey = "ExportClickTrackSampleRate";
constexpr const char* kBitDepthKey = "ExportClickTrackBitDepth";
constexpr const char* kFormatKey = "ExportClickTrackFormat";

// Each query for the next click starts just past the one before.
constexpr double kStep = 0.01;
// Long silences are written in pieces of this many samples.
constexpr int64_t kChunk = 1 << 16;

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// A number as the platform describes it: whole numbers without a point.
std::string describeNumber(double value) {
    char text[64];
    if (std::isfinite(value) && value == std::trunc(value) && std::fabs(value) < 1e15) {
        std::snprintf(text, sizeof text, "%.0f", value);
    } else {
        std::snprintf(text, sizeof text, "%.17g", value);
    }
    return text;
}

// The libsndfile encoding for a bit depth: 16 and 24 bit integers, 32 bit
// floats; 0 for a depth we do not write.
int encodingForBitDepth(int bits) {
    switch (bits) {
        case 16:
            return SF_FORMAT_PCM_16;
        case 24:
            return SF_FORMAT_PCM_24;
        case 32:
            return SF_FORMAT_FLOAT;
        default:
            return 0;
    }
}

// The temporary file being rendered and, once complete, renamed over the target.
class PendingFile {
public:
    ~PendingFile() {
        if (file_) sf_close(file_);
        if (!temporary_.empty()) ::unlink(temporary_.c_str());
    }

    // Answers "" or why the file cannot be created.
    std::string create(const std::string& requested, SF_INFO& info) {
        std::error_code error;
        target_ = requested;
        if (std::filesystem::is_symlink(requested, error)) {
            const auto resolved = std::filesystem::weakly_canonical(requested, error);
            if (error) return "cannot follow the link " + requested + ": " + error.message();
            target_ = resolved.string();
        }
        const auto status = std::filesystem::status(target_, error);
        if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
            return target_ + " is not a regular file";
        }
        struct stat existing {};
        if (::stat(target_.c_str(), &existing) == 0) {
            permissions_ = existing.st_mode & 07777;
        } else {
            const mode_t mask = ::umask(0);
            ::umask(mask);
            permissions_ = 0666 & ~mask;
        }
        std::string temporary = target_ + ".tmp-XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) return std::strerror(errno);
        temporary_ = temporary;
        file_ = sf_open_fd(fd, SFM_WRITE, &info, SF_TRUE);
        if (!file_) {
            ::close(fd);
            return sf_strerror(nullptr);
        }
        return {};
    }

    SNDFILE* file() const { return file_; }

    // Answers "" once the target holds the whole file.
    std::string commit() {
        sf_write_sync(file_);
        if (sf_close(file_) != 0) {
            file_ = nullptr;
            return "cannot close the file";
        }
        file_ = nullptr;
        if (::chmod(temporary_.c_str(), permissions_) != 0 ||
            ::rename(temporary_.c_str(), target_.c_str()) != 0) {
            return std::strerror(errno);
        }
        temporary_.clear();
        const std::filesystem::path folder = std::filesystem::path(target_).parent_path();
        const int folderFd =
            ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd >= 0) {
            ::fsync(folderFd);
            ::close(folderFd);
        }
        return {};
    }

private:
    std::string target_;
    std::string temporary_;
    mode_t permissions_ = 0644;
    SNDFILE* file_ = nullptr;
};

// Appends `count` samples that begin with the click (when given) and are
// silent after it, through one reused buffer. Answers whether all were written.
bool writeSegment(SNDFILE* file, int64_t count, const std::vector<float>* click, std::vector<float>& buffer) {
    int64_t done = 0;
    while (done < count) {
        const int64_t piece = std::min(count - done, kChunk);
        buffer.assign(static_cast<size_t>(piece), 0.0f);
        if (click && done < static_cast<int64_t>(click->size())) {
            const int64_t copied = std::min<int64_t>(piece, static_cast<int64_t>(click->size()) - done);
            std::copy_n(click->begin() + done, copied, buffer.begin());
        }
        if (sf_writef_float(file, buffer.data(), piece) != piece) {
            TLLog("Error exporting click track: %s", sf_strerror(file));
            return false;
        }
        done += piece;
    }
    return true;
}

}  // namespace

std::shared_ptr<ClickTrackExporter> ClickTrackExporter::exporterWithCue(std::shared_ptr<Cue> cue,
                                                                        TLAudioController& audio) {
    if (!cue) return nullptr;
    return std::make_shared<ClickTrackExporter>(std::move(cue), audio);
}

ClickTrackExporter::ClickTrackExporter(std::shared_ptr<Cue> cue, TLAudioController& audio)
    : cue_(std::move(cue)), audio_(audio), wallClock_(steadySeconds) {}

ClickTrackExporter::~ClickTrackExporter() {
    waitUntilDone();
}

void ClickTrackExporter::readOptionsFromDefaults(const UserDefaults& defaults) {
    auto has = [&](const char* key) { return !defaults.objectForKey(key).isNull(); };
    secondsPrerollBeforeFirstClick_ = has(kPrerollKey) ? defaults.doubleForKey(kPrerollKey) : 2.0;
    extendHeadToAlignWithFrameBoundary_ = has(kExtendKey) ? defaults.boolForKey(kExtendKey) : true;
    sampleRate_ = has(kSampleRateKey) ? defaults.doubleForKey(kSampleRateKey) : 48000.0;
    bitDepth_ = has(kBitDepthKey) ? static_cast<int>(defaults.integerForKey(kBitDepthKey)) : 24;
    format_ = has(kFormatKey) ? defaults.stringForKey(kFormatKey) : kWAVEFormat;
}

void ClickTrackExporter::storeOptionsInDefaults(UserDefaults& defaults) const {
    defaults.setDouble(kPrerollKey, secondsPrerollBeforeFirstClick_);
    defaults.setBool(kExtendKey, extendHeadToAlignWithFrameBoundary_);
    defaults.setDouble(kSampleRateKey, sampleRate_);
    defaults.setInteger(kBitDepthKey, bitDepth_);
    defaults.setString(kFormatKey, format_);
}

std::shared_ptr<EMTimecode> ClickTrackExporter::_renderStartTimecode() const {
    const std::shared_ptr<EMTimecode> first =
        cue_->timecodeForPrerollShiftedBeats(cue_->nextClickTimeAfterPrerollShiftedBeats(0.0));
    if (!first) return nullptr;
    std::shared_ptr<EMTimecode> start = first->copy();
    start->subtractSeconds(secondsPrerollBeforeFirstClick_);
    if (extendHeadToAlignWithFrameBoundary_) start->setBits(0);
    return start;
}

std::string ClickTrackExporter::suggestedFilename() const {
    const std::shared_ptr<EMTimecode> start = _renderStartTimecode();
    char digits[64];
    std::snprintf(digits, sizeof digits, "_%02d%02d%02d%02d_clix.wav", start ? start->hh() : 0,
                  start ? start->mm() : 0, start ? start->ss() : 0, start ? start->ff() : 0);
    return cue_->title() + digits;
}

std::vector<std::string> ClickTrackExporter::allowedFileTypes() const {
    if (writesAIFF()) return {"aif", "aiff"};
    return {"wav"};
}

bool ClickTrackExporter::confirmCueEnd() const {
    if (!cue_->cueEndEvent()) {
        Alert alert;
        alert.title = "No cue end event";
        alert.text =
            "This cue does not have a cue end event. The resulting click track will be very long, and may "
            "take "
            "a while to export. Are you sure you want to continue?";
        alert.buttons = {"Export anyway", "Cancel"};
        if (AlertPresenter::shared().runAlert(alert) != 0) return false;
    }
    return true;
}

bool ClickTrackExporter::commitExport(const std::string& path) {
    if (!confirmCueEnd()) return false;
    waitUntilDone();
    renderThread_ = std::thread([this, path] { renderToURL(path); });
    return true;
}

void ClickTrackExporter::waitUntilDone() {
    if (renderThread_.joinable()) renderThread_.join();
}

bool ClickTrackExporter::renderToURL(const std::string& path) {
    const double sr = sampleRate_;
    const std::shared_ptr<EMTimecode> start = _renderStartTimecode();
    const std::shared_ptr<EMTimecode> sync = cue_->syncTimecode();
    if (!start || !sync) {
        TLLog("Error creating click track for export: %s", "the cue has no timing");
        _finishExport(false);
        return false;
    }
    double total = kRenderLimitSeconds;
    if (const auto cueEnd = cue_->cueEndEvent()) {
        if (const auto endTimecode = cueEnd->lockTimecode()) total = endTimecode->secondsFromTimecode(*start);
    }
    const double began = wallClock_();

    SF_INFO info{};
    info.channels = 1;
    const int encoding = encodingForBitDepth(bitDepth_);
    const bool wholeRate = std::isfinite(sr) && sr >= 1.0 && sr <= 1e6 && sr == std::trunc(sr);
    if (wholeRate) {
        info.samplerate = static_cast<int>(sr);
        info.format = (writesAIFF() ? SF_FORMAT_AIFF : SF_FORMAT_WAV) | encoding;
    }
    if (!wholeRate || encoding == 0 || !sf_format_check(&info)) {
        TLLog(
            "Error: Could not find a supported format for the specified click track export options: %sHz, %d "
            "bit, %s",
            describeNumber(sr).c_str(), bitDepth_, format_.c_str());
        _finishExport(false);
        return false;
    }

    PendingFile file;
    if (const std::string failure = file.create(path, info); !failure.empty()) {
        TLLog("Error creating click track for export: %s", failure.c_str());
        _finishExport(false);
        return false;
    }
    // The broadcast-wave chunk and text chunks are never asked for, so the
    // file holds the format and the samples only.
    sf_command(file.file(), SFC_SET_ADD_PEAK_CHUNK, nullptr, SF_FALSE);

    const std::vector<float> click = audio_.createClickSampleAtSampleRate(sr);
    const auto n = static_cast<int64_t>(click.size());
    const double offset = sync->secondsFromTimecode(*start);
    auto position = [&](double beats) {
        return cue_->secondsFromSyncPointForPrerollShiftedBeats(beats) + offset;
    };

    std::vector<float> buffer;
    bool ok = true;
    bool sounds = false;
    double b = cue_->nextClickTimeAfterPrerollShiftedBeats(kStep, &sounds);
    if (b > 0.0) {
        double p = position(b);
        const int64_t silence = std::max<int64_t>(0, static_cast<int64_t>(std::floor(p * sr)));
        ok = writeSegment(file.file(), silence, nullptr, buffer);
        int64_t written = silence;
        while (ok) {
            const bool currentSounds = sounds;
            bool nextSounds = false;
            const double previous = b;
            b = cue_->nextClickTimeAfterPrerollShiftedBeats(b + kStep, &nextSounds);
            // A click behind the one before would walk forever.
            if (b <= previous) b = 0.0;
            p = b > 0.0 ? position(b) : p;
            const int64_t count = b == 0.0 ? n : static_cast<int64_t>(std::floor(sr * p - written));
            if (count > 0) {
                ok = writeSegment(file.file(), count, currentSounds ? &click : nullptr, buffer);
                written += count;
            }
            if (wallClock_() - began > kProgressDelaySeconds) {
                _showProgress(total > 0.0 ? std::clamp(p / total, 0.0, 1.0) : 1.0);
            }
            sounds = nextSounds;
            if (!(b > 0.0 && p < kRenderLimitSeconds)) break;
        }
    }

    if (ok) {
        if (const std::string failure = file.commit(); !failure.empty()) {
            TLLog("Error exporting click track: %s", failure.c_str());
            ok = false;
        }
    }
    _finishExport(ok);
    return ok;
}

void ClickTrackExporter::_showProgress(double fraction) {
    if (!progressHandler_) return;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (loop && !loop->isMainThread()) {
        loop->post([handler = progressHandler_, fraction] { handler(fraction); });
    } else {
        progressHandler_(fraction);
    }
}

void ClickTrackExporter::_finishExport(bool written) {
    if (!finishHandler_) return;
    RunLoop* loop = RunLoop::mainIfInstalled();
    if (loop && !loop->isMainThread()) {
        loop->post([handler = finishHandler_, written] { handler(written); });
    } else {
        finishHandler_(written);
    }
}

}  // namespace tollvane
