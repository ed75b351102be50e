// The particle field (global `particleControl`): the list, a target count
// followed one particle per frame, the pairwise repulsion, and the sprite and
// ribbon drawing of every mode.
#pragma once

#include <vector>

#include "drawBatch.h"
#include "fieldStep.h"
#include "particle.h"

class ParticleControl {
public:
    std::vector<Particle> myList;
    float baseSize;
    int count;
    int total;
    int maxCount;
    int minCount;
    // The batched drawing's two passes, both on unless the render benchmark
    // weighs one by leaving it out.
    bool showOrb;
    bool showRibbon;
    // The frame step: the packed, vectorised one (the default), or the
    // literal one, which the tests and the benchmark hold the fast one to.
    bool mFastStep;
    FieldStep mFieldStep;
    // The drawing: vertex arrays with one call per pass and texture (the
    // default), or the immediate calls, which the tests hold the batches to.
    bool mBatchedDraw;
    DrawBatch mGlowBatch, mCoreBatch, mRibbonBatch;

    explicit ParticleControl(int initialTotal);
    void exist();
    void adjustAmount();
    void iterateList();
    // iterateList() is simulate() then render(): the frame's state changes,
    // then its drawing. Split so the simulation can be run and timed alone.
    // (The literal pass draws the proximity lines during the pass, in
    // simulate(); the fast one collects them there and render() draws them
    // first, so the drawing order is the same.)
    void simulate();
    void render();
    // The literal pair pass, one pair at a time in list order. Kept as the
    // reference for the fast pass (fieldStep.h): the tests compare the two
    // from the same state and the benchmark times both.
    void repelAllParticles();
    void renderAllParticlesNoFlatShade();
    void renderAllParticlesFlatShade();
    void renderAllRibbons();
    // The batched passes (drawBatch.h): the same pictures as the three above.
    void renderGlowsBatched();
    void renderFlatBatched();
    void renderRibbonsBatched();
    void renderRibbonsOnLayer(const RibbonLook& look);
    // render() when the background began the light layer (lightLayer.h):
    // glows and ribbons into it, then what GL draws over it.
    void renderOnLightLayer();
    void setColors();
    void add() { total += 1; }
    void subtract() { total -= 1; }
    std::vector<Particle>* getList() { return &myList; }
};
