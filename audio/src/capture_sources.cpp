#include "capture_sources.h"

#include <cstdio>

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

const lv::CaptureSource* findCaptureSource(const lv::CaptureServerInfo& server, const std::string& name) {
    const std::string& wanted = name.empty() ? server.defaultMonitor : name;
    for (const lv::CaptureSource& s : server.sources)
        if (s.name == wanted) return &s;
    return nullptr;
}
