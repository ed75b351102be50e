/* What the desktop's music players say they play: the MPRIS interface
 * (org.mpris.MediaPlayer2.Player) of every player on the session D-Bus, read
 * with GLib's GDBus.
 *
 * One player is followed at a time: the one playing, and among several the
 * one that started playing last; with none playing, the one that played last
 * (a paused player still names its track). A filter (as playerctl's -p)
 * keeps to players whose bus name is org.mpris.MediaPlayer2.NAME or one of
 * its instances (org.mpris.MediaPlayer2.NAME.instance42). Players that
 * appear and vanish are followed as the bus announces them.
 *
 * Who calls it. The player's and the spectrum server's live capture. The
 * watcher runs a GMainContext of its own on its own thread; the caller polls
 * take() once a frame, which never waits on D-Bus: it copies what the thread
 * left in a mutex-guarded mailbox.
 *
 * The players are asked asynchronously, one call in flight per player: a
 * player that never answers holds back no other, and one that signals
 * without answering costs a call per timeout at most. Titles, artists and
 * albums are cut as window titles are (lv::boundTag).
 *
 * Covers: a file: art URL of this machine (no host, or localhost; the
 * scheme in any letter case) is read as covers beside tracks are (at most
 * 64 MiB, JPEG or PNG by their bytes) on the watcher's thread, and handed
 * on shrunk for the overlay (lv::coverForOverlay); the same file unchanged
 * (its size and time) is not read again. Art URLs of any other scheme or
 * host (http, https, another machine's file: a download) are left out,
 * unread. A file that fails to read is no cover, said once.
 *
 * Failures: nothing throws or blocks the caller. Without a session bus, or
 * while no player is there, take() reports no player, and note() hands out
 * one sentence saying why, once ("no session D-Bus: ...").
 */
#pragma once

#include <memory>
#include <string>

#include "lv/media.h"

namespace lv {

struct NowPlaying {
    bool present = false;   // false: no player to show (none there, or no bus)
    std::string busName;    // org.mpris.MediaPlayer2.NAME[.instance]
    std::string trackId;    // mpris:trackid, often empty
    bool playing = false;
    TrackMeta meta;         // title, artist, album, durationMs, cover
};

class MprisWatcher {
public:
    MprisWatcher();
    ~MprisWatcher();
    MprisWatcher(const MprisWatcher&) = delete;
    MprisWatcher& operator=(const MprisWatcher&) = delete;

    // Starts the watching thread; `player` empty follows any player.
    void start(const std::string& player);
    void stop();

    // True when what is shown changed since the last call (another title,
    // artist, album, cover or track id, another player, or no player any
    // more), with what plays now in `out`.
    bool take(NowPlaying& out);
    // A sentence for the user, each said once: no bus, no player.
    bool note(std::string& out);

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

// True when the bus name belongs to the player NAME (playerctl's -p):
// org.mpris.MediaPlayer2.NAME, an instance of it, or NAME written whole.
bool mprisNameMatches(const std::string& busName, const std::string& player);

}  // namespace lv
