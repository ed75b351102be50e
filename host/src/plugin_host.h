// The player's host of the visual plug-in: finds Lumenvortex.so and hands it
// the player's tracks. Loading, the messages and the answers to the
// plug-in's requests are the shared host side of the interface
// (plugin/host/plugin_module.h); this adds where the plug-in is looked for
// and what a track means to the plug-in:
//
//   play / changeTrack   "vply" / "ctrk" with the track's record
//                        (track_record.h); its cover answers "covr" until
//                        the next track, JPEG or PNG as its bytes say
//   key                  "vevt" for a key as the user typed it
//
// All calls on one thread, the one that loaded the plug-in. Failures: load()
// and start() return false with a message that names what to do.
#pragma once

#include <string>

#include "backdrop.h"
#include "lv/media.h"
#include "plugin_module.h"

// Where an installed player keeps its plug-in, relative to its own folder
// ("../lib/x86_64-linux-gnu/lumenvortex"): set by the build from the install
// layout, so that the installed program finds it under any prefix.
extern const char kInstalledPluginFolder[];

class PluginHost : public PluginModule {
public:
    // Lumenvortex.so in kInstalledPluginFolder, then beside the running
    // program (the build tree), then $LUMENVORTEX_PLUGIN (the file, or a
    // folder holding it).
    bool load(std::string& error);
    // The file load() took the plug-in from.
    const std::string& loadedFrom() const { return mLoadedFrom; }

    using PluginModule::changeTrack;
    using PluginModule::play;
    OSStatus play(const lv::TrackMeta& track);          // "vply": playback starts with this track
    OSStatus changeTrack(const lv::TrackMeta& track);   // "ctrk": the next track plays on
    // --background cover: each track's cover goes behind the field of a
    // frame this size (0 x 0: off).
    int mCoverBackdropWidth = 0, mCoverBackdropHeight = 0;

    // A key as the user typed it (case kept); `repeat` for auto-repeat.
    OSStatus key(unsigned char character, bool repeat, UInt16 modifiers = 0);

private:
    bool tryLoad(const std::string& path, std::string& error);
    void holdCover(const lv::TrackMeta& track);
    void showCoverBackdrop(const lv::TrackMeta& track);

    std::string mLoadedFrom;
};
