// The Kodi add-on visualization.lumenvortex: Kodi's visualisation instance
// (kodi.binary.instance.visualization 4.0.0) handed to the Visualizer, which
// drives the plug-in linked in. This file is the only one that sees Kodi.
#include <kodi/AddonBase.h>
#include <kodi/addon-instance/Visualization.h>

#include "visualizer.h"

namespace {

// The add-on's settings (resources/settings.xml), by their ids.
lvkodi::Settings readSettings() {
    lvkodi::Settings s;
    s.particles = kodi::addon::GetSettingInt("particles", s.particles);
    s.gainSteps = kodi::addon::GetSettingInt("gain", s.gainSteps);
    s.flow = kodi::addon::GetSettingBoolean("flow", s.flow);
    s.palette = kodi::addon::GetSettingInt("palette", s.palette);
    return s;
}

class CVisualizationLumenvortex : public kodi::addon::CAddonBase, public kodi::addon::CInstanceVisualization {
public:
    CVisualizationLumenvortex() {
        if (!mVisualizer.ready())
            kodi::Log(ADDON_LOG_ERROR, "Lumenvortex cannot start: %s", mVisualizer.lastError().c_str());
    }

    bool Start(int channels, int, int, const std::string&) override {
        if (!mVisualizer.ready()) return false;
        mVisualizer.start(channels);
        mVisualizer.apply(readSettings());
        return true;
    }
    void Stop() override { mVisualizer.stop(); }
    void AudioData(const float* audioData, size_t audioDataLength) override {
        mVisualizer.audioData(audioData, audioDataLength);
    }
    void Render() override {
        // One report, not one a frame: the reason stays until stop.
        if (!mVisualizer.render() && !mReported) {
            kodi::Log(ADDON_LOG_ERROR, "Lumenvortex draws nothing: %s", mVisualizer.lastError().c_str());
            mReported = true;
        }
    }

    bool UpdateTrack(const kodi::addon::VisualizationTrack& track) override {
        lv::TrackMeta meta;
        meta.title = track.GetTitle();
        meta.artist = track.GetArtist();
        meta.album = track.GetAlbum();
        meta.genre = track.GetGenre();
        meta.trackNumber = track.GetTrack();
        meta.year = track.GetYear();
        meta.durationMs = track.GetDuration() > 0 ? track.GetDuration() * 1000LL : -1;
        mVisualizer.updateTrack(meta);
        return true;
    }
    bool UpdateAlbumart(const std::string& albumart) override {
        mVisualizer.updateAlbumart(albumart);
        return true;
    }

    bool GetPresets(std::vector<std::string>& presets) override {
        presets = lvkodi::Visualizer::presetNames();
        return true;
    }
    int GetActivePreset() override { return mVisualizer.activePreset(); }
    bool LoadPreset(int select) override { return mVisualizer.loadPreset(select); }
    bool NextPreset() override { return mVisualizer.nextPreset(); }
    bool PrevPreset() override { return mVisualizer.prevPreset(); }
    bool RandomPreset() override { return mVisualizer.randomPreset(); }
    bool LockPreset(bool lockUnlock) override { return mVisualizer.lockPreset(lockUnlock); }
    bool IsLocked() override { return mVisualizer.locked(); }

    ADDON_STATUS SetSetting(const std::string&, const kodi::addon::CSettingValue&) override {
        // Kodi has stored the new value already: all of them together are the wish.
        mVisualizer.apply(readSettings());
        return ADDON_STATUS_OK;
    }

private:
    lvkodi::Visualizer mVisualizer;
    bool mReported = false;
};

}  // namespace

ADDONCREATOR(CVisualizationLumenvortex)
