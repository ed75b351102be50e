#include "player.h"

#include <cstdio>

#include "lv/capture.h"
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

int listCaptureSources(const char* program) {
    lv::CaptureServerInfo server;
    std::string error;
    if (!lv::queryCaptureSources(server, error)) {
        std::fprintf(stderr, "%s: %s\n", program, error.c_str());
        return 1;
    }
    std::printf("Sources of %s (--capture NAME; * marks the default):\n", server.serverName.c_str());
    for (const auto& s : server.sources) {
        bool isDefault = s.name == server.defaultMonitor;
        std::printf("%s %s\n      %s%s\n", isDefault ? "*" : " ", s.name.c_str(), s.description.c_str(),
                    s.monitor ? " (what the output plays)" : " (an input)");
    }
    if (server.sources.empty()) std::printf("  (none)\n");
    return 0;
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
        std::printf("lumenvortex 1.0.0\n");
        return 0;
    }
    lv::setMediaVerbose(options.verbose);
    if (options.listSources) return listCaptureSources();
    if (options.renders()) return runRender(options);
    return runLive(options);
}
