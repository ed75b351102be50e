// What live capture names as its track: the track a desktop player says it
// plays (MPRIS, lv/mpris.h), else the capture source as before. Both
// programs' capture use it, on the thread that draws or sends frames.
//
// poll() is called once a frame and never waits: it takes what the watcher's
// thread left in its mailbox. Any change of what is shown (a title, an
// artist, a cover sent a moment after its title, a track id), another
// player, or the players gone (back to the capture source) is a track
// change, handed on as a file's next track is: the overlay shows again.
#pragma once

#include <functional>
#include <string>

#include "lv/media.h"
#include "lv/mpris.h"

class LiveTrack {
public:
    // `source` is what shows while no player does. With `watch` false the
    // players are left alone.
    void start(const lv::TrackMeta& source, const std::string& player, bool watch);
    void stop() { mWatcher.stop(); }
    // The capture moved to another source: shown if no player is.
    void setSource(const lv::TrackMeta& source);

    // True with the track to show when it changed; `say` gets each of the
    // watcher's sentences once.
    bool poll(lv::TrackMeta& out, const std::function<void(const std::string&)>& say);

    const lv::TrackMeta& current() const { return mCurrent; }

private:
    lv::MprisWatcher mWatcher;
    lv::TrackMeta mSource;
    lv::TrackMeta mCurrent;
    bool mFromPlayer = false;
    bool mChanged = false;
};
