#include "live_track.h"

void LiveTrack::start(const lv::TrackMeta& source, const std::string& player, bool watch) {
    mSource = mCurrent = source;
    mFromPlayer = false;
    mChanged = false;
    if (watch) mWatcher.start(player);
}

void LiveTrack::setSource(const lv::TrackMeta& source) {
    mSource = source;
    if (!mFromPlayer) {
        mCurrent = source;
        mChanged = true;
    }
}

bool LiveTrack::poll(lv::TrackMeta& out, const std::function<void(const std::string&)>& say) {
    for (std::string line; mWatcher.note(line);) say(line);
    lv::NowPlaying now;
    if (mWatcher.take(now)) {
        // The watcher hands on changes of track only; a player that went
        // away while the source showed anyway changes nothing.
        if (now.present) {
            mCurrent = std::move(now.meta);
            mChanged = true;
        } else if (mFromPlayer) {
            mCurrent = mSource;
            mChanged = true;
        }
        mFromPlayer = now.present;
    }
    if (!mChanged) return false;
    mChanged = false;
    out = mCurrent;
    return true;
}
