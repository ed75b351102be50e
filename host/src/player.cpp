#include "player.h"

#include <cstdio>

#include "capture_sources.h"
#include "lv/media.h"
#include "plugin_host.h"
#include "segments.h"
#include "stream.h"
#include "virtual_clock.h"

namespace {

bool loadModule(PluginHost& host, const Options& options, std::string& error) {
    if (!options.pluginPath.empty()) {
        std::string why;
        if (host.loadFrom(options.pluginPath, why)) return true;
        error = "cannot load the visualizer plug-in given with --plugin: " + why;
        return false;
    }
    if (!host.load(error)) return false;
    if (options.verbose) std::fprintf(stderr, "lumenvortex: visualizer plug-in %s\n", host.loadedFrom().c_str());
    return true;
}

}  // namespace

bool loadPlugin(PluginHost& host, const Options& options, std::string& error) {
    if (!loadModule(host, options, error)) return false;
    if (!options.renderer.empty() && !host.setRenderer(options.renderer)) {
        error = host.mPluginPath + " cannot draw with --renderer " + options.renderer +
                ": it has no LumenvortexSetRenderer (use the player's own Lumenvortex.so)";
        return false;
    }
    // The light alone is drawn over black: black is what has no alpha.
    const long background = options.transparent ? 0 : options.background;
    if (background >= 0 && !host.setBackground(background)) {
        error = host.mPluginPath +
                " cannot take --background or --transparent: it has no LumenvortexSetBackground (use the player's "
                "own Lumenvortex.so)";
        return false;
    }
    if (options.backgroundCover) {
        host.mCoverBackdropWidth = options.width;
        host.mCoverBackdropHeight = options.height;
    }
    if (options.backgroundImage.empty()) return true;
    BackdropPicture picture;
    if (!loadBackdropImage(options.backgroundImage, options.width, options.height, picture, error)) return false;
    if (!host.setBackgroundImage(picture.rgba.data(), picture.width, picture.height)) {
        error = host.mPluginPath + " cannot take --background " + options.backgroundImage +
                ": it has no LumenvortexSetBackgroundImage (use the player's own Lumenvortex.so)";
        return false;
    }
    return true;
}

bool loadPluginOnClock(PluginHost& host, const Options& options, VirtualClock& clock, const std::string& use,
                       std::string& error) {
    if (!loadPlugin(host, options, error)) return false;
    if (host.setClock(&VirtualClock::now, &VirtualClock::sleep, &clock)) return true;
    error = host.mPluginPath + " has no LumenvortexSetClock: " + use + " (use the player's own Lumenvortex.so)";
    return false;
}

int runPlayer(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "lumenvortex: %s\nlumenvortex --help lists the options\n", error.c_str());
        return 2;
    }
    Options scratch;
    if (answerHelp(options, playerManual(scratch))) return 0;
    if (options.version) {
        std::printf("lumenvortex %s\n", programVersion());
        return 0;
    }
    for (const std::string& warning : options.warnings) std::fprintf(stderr, "lumenvortex: %s\n", warning.c_str());
    lv::setMediaVerbose(options.verbose);
    if (options.listSources) return listCaptureSources("lumenvortex");
    if (options.join) return runJoin(options.inputs);
    if (options.renders()) return runRender(options);
    if (options.streams()) return runStream(options);
    return runLive(options);
}
