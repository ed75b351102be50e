// Visual modes: the seven-entry look table, the current mode, the GL depth and
// blend state each mode needs, and the run-time settings that modes and keys
// change with it (noise flow, repel strength, particle size, cycling).
#pragma once

#include <vector>

#include "libp5.h"

class Mode {
public:
    bool mFlatShade;
    bool mSimpleShade;
    bool mRenderRibbons;
    bool mTextureRibbons;
    bool mErraticRibbons;
    bool mStrokeMode;
    bool mBlackAndWhite;
    bool mProximityLines;
    float mMaxParticleSize;
    bool mHSBColor;
    float mHSBHueDelta;
    bool mForceBackgroundColor;
    color mForcedBackgroundColor;

    Mode(bool flatShade, bool simpleShade, bool renderRibbons, bool textureRibbons,
         bool erraticRibbons, bool strokeMode, bool blackAndWhite, bool proximityLines,
         float maxParticleSize, bool hsbColor, float hsbHueDelta, bool forceBackgroundColor);
    void setForcedBackgroundColor(const color& c) { mForcedBackgroundColor = c; }
};

class ModeMgr {
public:
    bool mPerlinFlow;
    float mParticleRepelStrength;

    ModeMgr();
    void nextMode();
    void setupGL();
    void setPerlinFlow(bool on);
    void setCycleModeOnTrackChange(bool on) { mCycleModeOnTrackChange = on; }

    int currentMode() const { return mCurrentMode; }
    int modeCount() const { return (int)mModes.size(); }

    bool flatShade() const { return cur().mFlatShade; }
    bool simpleShade() const { return cur().mSimpleShade; }
    bool renderRibbons() const { return cur().mRenderRibbons; }
    bool textureRibbons() const { return cur().mTextureRibbons; }
    bool erraticRibbons() const { return cur().mErraticRibbons; }
    bool strokeMode() const { return cur().mStrokeMode; }
    bool blackAndWhite() const { return cur().mBlackAndWhite; }
    bool renderProximityLines() const { return cur().mProximityLines; }
    bool hsbColor() const { return cur().mHSBColor; }
    float hsbHueDelta() const { return cur().mHSBHueDelta; }
    bool forceBackgroundColor() const { return cur().mForceBackgroundColor; }
    color forcedBackgroundColor() const { return cur().mForcedBackgroundColor; }
    bool perlinFlow() const { return mPerlinFlow; }
    float particleRepelStrength() const { return mParticleRepelStrength; }
    float minParticleSize() const { return DEFAULT_MIN_PARTICLE_SIZE; }
    float maxParticleSize() const { return mMaxParticleSize; }
    float pullTowardCenterStrength() const { return mPullTowardCenterStrength; }
    bool cycleModeOnTrackChange() const { return mCycleModeOnTrackChange; }

    static constexpr bool FLAT_SHADE = true, NO_FLAT_SHADE = false;
    static constexpr bool SIMPLE_SHADE = true, NO_SIMPLE_SHADE = false;
    static constexpr bool RIBBONS = true, NO_RIBBONS = false;
    static constexpr bool TEXTURE_RIBBONS = true, NO_TEXTURE_RIBBONS = false;
    static constexpr bool ERRATIC_RIBBONS = true, NO_ERRATIC_RIBBONS = false;
    static constexpr bool STROKE_MODE = true, NO_STROKE_MODE = false;
    static constexpr bool BLACK_AND_WHITE = true, NO_BLACK_AND_WHITE = false;
    static constexpr bool PROXIMITY_LINES = true, NO_PROXIMITY_LINES = false;
    static constexpr bool HSB_COLOR = true, NO_HSB_COLOR = false;
    static constexpr bool FORCE_BACKGROUND_COLOR = true, NO_FORCE_BACKGROUND_COLOR = false;

private:
    const Mode& cur() const { return mModes[mCurrentMode]; }

    std::vector<Mode> mModes;
    int mCurrentMode;
    float mMaxParticleSize;
    float mPullTowardCenterStrength;
    bool mCycleModeOnTrackChange;

    static constexpr float DEFAULT_MIN_PARTICLE_SIZE = 0.5f;
    static constexpr float DEFAULT_MAX_PARTICLE_SIZE = 1.5f;
    static constexpr float DEFAULT_PULL_TOWARD_CENTER_STRENGTH = 0.01f;
    static constexpr float DEFAULT_PARTICLE_REPEL_STRENGTH = 1.0f;
};
