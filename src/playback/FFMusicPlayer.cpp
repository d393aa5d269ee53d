#include "playback/FFMusicPlayer.h"

#include <utility>

#include "platform/Log.h"
#include "playback/FFMusicSequence.h"

namespace tollvane {

FFMusicPlayer::FFMusicPlayer(const HostClock& clock, MusicPlayer::Delivery delivery)
    : player_(clock, delivery) {}

FFMusicPlayer::~FFMusicPlayer() {
    if (player_.isPlaying()) player_.stop();
}

std::unique_ptr<FFMusicPlayer> FFMusicPlayer::playerWithContentsOfFile(const std::string& path) {
    std::shared_ptr<FFMusicSequence> sequence = FFMusicSequence::sequenceWithContentsOfFile(path);
    if (!sequence) return nullptr;
    auto player = std::make_unique<FFMusicPlayer>();
    if (!player->setSequence(std::move(sequence))) return nullptr;
    return player;
}

std::unique_ptr<FFMusicPlayer> FFMusicPlayer::playerWithContentsAtAlias(const std::string& path) {
    return playerWithContentsOfFile(path);
}

std::shared_ptr<FFMusicSequence> FFMusicPlayer::sequence() const {
    std::lock_guard<std::mutex> lock(sequenceMutex_);
    return sequence_;
}

bool FFMusicPlayer::setSequence(std::shared_ptr<FFMusicSequence> sequence) {
    stop();
    std::shared_ptr<MusicSequence> store = sequence ? sequence->musicSequence() : nullptr;
    {
        std::lock_guard<std::mutex> lock(sequenceMutex_);
        sequence_ = std::move(sequence);
    }
    int status = player_.setSequence(std::move(store));
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to set player's sequence (Error %d).", status);
        return false;
    }
    return true;
}

bool FFMusicPlayer::play() {
    if (player_.isPlaying()) return true;
    followStore();
    int status = player_.start();
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to start music player (Error %d).", status);
        return false;
    }
    return true;
}

bool FFMusicPlayer::pause() {
    if (!player_.isPlaying()) return true;
    return player_.stop() == kMusicPlayerNoErr;
}

bool FFMusicPlayer::stop() {
    if (!pause()) {
        TLLog("Unable to stop sequence playback.");
        return false;
    }
    if (!goToTime(0.0)) {
        TLLog("Unable to stop sequence playback; paused instead.");
        return false;
    }
    return true;
}

bool FFMusicPlayer::goToTime(double beats) {
    int status = player_.setTime(beats);
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to set music player time (Error %d).", status);
        return false;
    }
    return preroll();
}

bool FFMusicPlayer::preroll() {
    if (!sequence()) return true;
    int status = player_.preroll();
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to preroll music player (Error %d).", status);
        return false;
    }
    return true;
}

double FFMusicPlayer::currentTime() const {
    double beats = 0.0;
    return player_.getTime(beats) == kMusicPlayerNoErr ? beats : 0.0;
}

double FFMusicPlayer::currentTimeInSeconds() const {
    std::shared_ptr<FFMusicSequence> sequence = this->sequence();
    return sequence ? sequence->secondsForBeats(currentTime()) : 0.0;
}

bool FFMusicPlayer::goToTimeInSeconds(double seconds) {
    std::shared_ptr<FFMusicSequence> sequence = this->sequence();
    return goToTime(sequence ? sequence->beatsForSeconds(seconds) : 0.0);
}

double FFMusicPlayer::rate() const {
    double rate = 1.0;
    return player_.getPlayRateScalar(rate) == kMusicPlayerNoErr ? rate : 1.0;
}

void FFMusicPlayer::setRate(double rate) {
    int status = player_.setPlayRateScalar(rate);
    if (status != kMusicPlayerNoErr) TLLog("Unable to set play rate %f (Error %d).", rate, status);
}

bool FFMusicPlayer::isPlaying() const {
    return player_.isPlaying();
}

uint64_t FFMusicPlayer::hostTimeForBeats(double beats) const {
    uint64_t hostTime = 0;
    int status = player_.getHostTimeForBeats(beats, hostTime);
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to get host time for beats (Error %d).", status);
        return 0;
    }
    return hostTime;
}

double FFMusicPlayer::beatsForHostTime(uint64_t hostTime) const {
    double beats = 0.0;
    int status = player_.getBeatsForHostTime(hostTime, beats);
    if (status != kMusicPlayerNoErr) {
        TLLog("Unable to get beats for host time (Error %d).", status);
        return 0.0;
    }
    return beats;
}

AUGraphHandle FFMusicPlayer::AUGraph() const {
    std::shared_ptr<FFMusicSequence> sequence = this->sequence();
    return sequence ? sequence->AUGraph() : nullptr;
}

void FFMusicPlayer::setAUGraph(AUGraphHandle graph) {
    if (std::shared_ptr<FFMusicSequence> sequence = this->sequence()) sequence->setAUGraph(graph);
}

void FFMusicPlayer::followStore() {
    std::shared_ptr<FFMusicSequence> sequence = this->sequence();
    std::shared_ptr<MusicSequence> store = sequence ? sequence->musicSequence() : nullptr;
    if (store == player_.sequence()) return;
    double position = currentTime();
    player_.setSequence(std::move(store));
    player_.setTime(position);
}

}  // namespace tollvane
