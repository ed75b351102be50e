#include "player.h"

#include <cstdio>

#include "capture_sources.h"
#include "lv/media.h"
#include "plugin_host.h"

bool loadPlugin(PluginHost& host, const Options& options, std::string& error) {
    if (!options.pluginPath.empty()) {
        std::string why;
        if (host.loadFrom(options.pluginPath, why)) return true;
        error = "cannot load the visualizer plug-in given with --plugin: " + why;
        return false;
    }
    return host.load(error);
}

int runPlayer(int argc, char** argv) {
    Options options;
    std::string error;
    if (!parseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "lumenvortex: %s\nlumenvortex --help lists the options\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("lumenvortex %s\n", programVersion());
        return 0;
    }
    for (const std::string& warning : options.warnings) std::fprintf(stderr, "lumenvortex: %s\n", warning.c_str());
    lv::setMediaVerbose(options.verbose);
    if (options.listSources) return listCaptureSources("lumenvortex");
    if (options.renders()) return runRender(options);
    return runLive(options);
}
