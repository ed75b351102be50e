#include "modes.h"

#include "lumenvortexApplet.h"

Mode::Mode(bool flatShade, bool simpleShade, bool renderRibbons, bool textureRibbons,
           bool erraticRibbons, bool strokeMode, bool blackAndWhite, bool proximityLines,
           float maxParticleSize, bool hsbColor, float hsbHueDelta, bool forceBackgroundColor)
    : mFlatShade(flatShade),
      mSimpleShade(simpleShade),
      mRenderRibbons(renderRibbons),
      mTextureRibbons(textureRibbons),
      mErraticRibbons(erraticRibbons),
      mStrokeMode(strokeMode),
      mBlackAndWhite(blackAndWhite),
      mProximityLines(proximityLines),
      mMaxParticleSize(maxParticleSize),
      mHSBColor(hsbColor),
      mHSBHueDelta(hsbHueDelta),
      mForceBackgroundColor(forceBackgroundColor),
      // No mode forces its background, so nobody reads this; black keeps it defined.
      mForcedBackgroundColor(0) {}

ModeMgr::ModeMgr()
    : mPerlinFlow(false),
      mParticleRepelStrength(DEFAULT_PARTICLE_REPEL_STRENGTH),
      mCurrentMode(0),
      mMaxParticleSize(DEFAULT_MAX_PARTICLE_SIZE),
      mPullTowardCenterStrength(DEFAULT_PULL_TOWARD_CENTER_STRENGTH),
      mCycleModeOnTrackChange(true) {
    // A maximum size of -1 means "the default"; a hue delta of -1 means "no hue colouring".
    // 0: textured erratic ribbons on glowing sprites
    mModes.emplace_back(NO_FLAT_SHADE, NO_SIMPLE_SHADE, RIBBONS, TEXTURE_RIBBONS, ERRATIC_RIBBONS,
                        NO_STROKE_MODE, NO_BLACK_AND_WHITE, NO_PROXIMITY_LINES, -1.0f, NO_HSB_COLOR,
                        -1.0f, NO_FORCE_BACKGROUND_COLOR);
    // 1: sprites only
    mModes.emplace_back(NO_FLAT_SHADE, NO_SIMPLE_SHADE, NO_RIBBONS, NO_TEXTURE_RIBBONS,
                        NO_ERRATIC_RIBBONS, NO_STROKE_MODE, NO_BLACK_AND_WHITE, NO_PROXIMITY_LINES,
                        -1.0f, NO_HSB_COLOR, -1.0f, NO_FORCE_BACKGROUND_COLOR);
    // 2: white erratic ribbons on black
    mModes.emplace_back(NO_FLAT_SHADE, NO_SIMPLE_SHADE, RIBBONS, NO_TEXTURE_RIBBONS, ERRATIC_RIBBONS,
                        NO_STROKE_MODE, BLACK_AND_WHITE, NO_PROXIMITY_LINES, -1.0f, NO_HSB_COLOR,
                        -1.0f, NO_FORCE_BACKGROUND_COLOR);
    // 3: flat shaded with ribbons
    mModes.emplace_back(FLAT_SHADE, NO_SIMPLE_SHADE, RIBBONS, NO_TEXTURE_RIBBONS, NO_ERRATIC_RIBBONS,
                        NO_STROKE_MODE, NO_BLACK_AND_WHITE, NO_PROXIMITY_LINES, 0.75f, NO_HSB_COLOR,
                        -1.0f, NO_FORCE_BACKGROUND_COLOR);
    // 4: small white sprites joined by proximity lines
    mModes.emplace_back(NO_FLAT_SHADE, NO_SIMPLE_SHADE, NO_RIBBONS, NO_TEXTURE_RIBBONS,
                        NO_ERRATIC_RIBBONS, NO_STROKE_MODE, BLACK_AND_WHITE, PROXIMITY_LINES, 0.75f,
                        NO_HSB_COLOR, -1.0f, NO_FORCE_BACKGROUND_COLOR);
    // 5: flat, coloured by hue around a random base
    mModes.emplace_back(FLAT_SHADE, SIMPLE_SHADE, RIBBONS, NO_TEXTURE_RIBBONS, ERRATIC_RIBBONS,
                        NO_STROKE_MODE, NO_BLACK_AND_WHITE, NO_PROXIMITY_LINES, -1.0f, HSB_COLOR,
                        3.0f, NO_FORCE_BACKGROUND_COLOR);
    // 6: stroked ribbons
    mModes.emplace_back(NO_FLAT_SHADE, NO_SIMPLE_SHADE, RIBBONS, NO_TEXTURE_RIBBONS,
                        NO_ERRATIC_RIBBONS, STROKE_MODE, NO_BLACK_AND_WHITE, NO_PROXIMITY_LINES,
                        -1.0f, NO_HSB_COLOR, -1.0f, NO_FORCE_BACKGROUND_COLOR);
}

void ModeMgr::nextMode() {
    mCurrentMode = (mCurrentMode + 1) % (int)mModes.size();
    setupGL();

    float size = mModes[mCurrentMode].mMaxParticleSize;
    mMaxParticleSize = size < 0 ? DEFAULT_MAX_PARTICLE_SIZE : size;

    // The palette, the background and the flow draw from the shared generator in this
    // order; swapping them changes every later random draw of the scene.
    colors.setIndex();
    bgControl.setColor();
    float r = random(1.0f);
    setPerlinFlow(r < 0.34f);
}

void ModeMgr::setupGL() {
    if (cur().mFlatShade) {
        glEnable(GL_DEPTH_TEST);
        glDepthMask(GL_TRUE);
        glDisable(GL_BLEND);
        glClear(GL_DEPTH_BUFFER_BIT);
    } else {
        // Glowing sprites add up; depth would cut the glow off behind nearer sprites.
        glDisable(GL_DEPTH_TEST);
        glDepthMask(GL_FALSE);
        glEnable(GL_BLEND);
        glBlendFunc(GL_SRC_ALPHA, GL_ONE);
    }
}

void ModeMgr::setPerlinFlow(bool on) {
    mPerlinFlow = on;
    // Particles drifting in the noise field bunch up less when they push each other less.
    mParticleRepelStrength = on ? 0.2f : 1.0f;
}
