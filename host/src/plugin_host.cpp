#include "plugin_host.h"

#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "MacMemory.h"
#include "track_record.h"

namespace {

constexpr char kPluginFile[] = "Lumenvortex.so";

std::string executableFolder() {
    char buffer[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return ".";
    buffer[n] = 0;
    std::string path(buffer);
    size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

const char kInstalledPluginFolder[] = LV_PLUGIN_DIR_FROM_BIN;

bool PluginHost::tryLoad(const std::string& path, std::string& error) {
    if (!loadFrom(path, error)) return false;
    mLoadedFrom = path;
    return true;
}

bool PluginHost::load(std::string& error) {
    const std::string folder = executableFolder();
    // Only a file that is there is tried: a build tree has no installed
    // layout, and its missing file says nothing worth reporting.
    const std::string installed = folder + "/" + kInstalledPluginFolder + "/" + kPluginFile;
    std::string installedError;
    if (access(installed.c_str(), F_OK) == 0 && tryLoad(installed, installedError)) return true;
    std::string beside = folder + "/" + kPluginFile;
    std::string besideError;
    if (tryLoad(beside, besideError)) return true;
    const char* env = std::getenv("LUMENVORTEX_PLUGIN");
    std::string envError = "not set";
    if (env && *env) {
        std::string path = env;
        if (isFolder(path)) path += std::string("/") + kPluginFile;
        if (tryLoad(path, envError)) return true;
    }
    error = std::string("cannot load the visualizer plug-in ") + kPluginFile + ":\n" +
            (installedError.empty() ? "" : "  installed with the program: " + installedError + "\n") +
            "  beside the program: " + besideError + "\n  $LUMENVORTEX_PLUGIN: " + envError +
            "\nreinstall lumenvortex, build it (scripts/build), or set LUMENVORTEX_PLUGIN to the plug-in file or "
            "its folder";
    return false;
}

void PluginHost::holdCover(const lv::TrackMeta& track) {
    mCoverArt.clear();
    mCoverArtFormat = 0;
    if (track.cover.empty()) return;
    mCoverArt = track.cover.bytes;
    mCoverArtFormat = track.cover.format == lv::ImageFormat::Png ? kCoverArtPNG : kCoverArtJPEG;
}

void PluginHost::showCoverBackdrop(const lv::TrackMeta& track) {
    if (mCoverBackdropWidth <= 0 || mCoverBackdropHeight <= 0) return;
    const BackdropPicture p = coverBackdrop(track.cover, mCoverBackdropWidth, mCoverBackdropHeight);
    setBackgroundImage(p.rgba.empty() ? nullptr : p.rgba.data(), p.width, p.height);
}

OSStatus PluginHost::play(const lv::TrackMeta& track) {
    holdCover(track);
    showCoverBackdrop(track);
    ITTrackInfo record;
    makeTrackRecord(track, record);
    return PluginModule::play(record);
}

OSStatus PluginHost::changeTrack(const lv::TrackMeta& track) {
    holdCover(track);
    showCoverBackdrop(track);
    ITTrackInfo record;
    makeTrackRecord(track, record);
    return PluginModule::changeTrack(record);
}

OSStatus PluginHost::key(unsigned char character, bool repeat, UInt16 modifiers) {
    return event(repeat ? autoKey : keyDown, character, modifiers);
}
