// The particle field (global `particleControl`): the list, a target count
// followed one particle per frame, the pairwise repulsion, and the sprite and
// ribbon drawing of every mode.
#pragma once

#include <vector>

#include "particle.h"

class ParticleControl {
public:
    std::vector<Particle> myList;
    float baseSize;
    int count;
    int total;
    int maxCount;
    int minCount;
    bool showOrb;
    bool showRibbon;

    explicit ParticleControl(int initialTotal);
    void exist();
    void adjustAmount();
    void iterateList();
    // iterateList() is simulate() then render(): the frame's state changes,
    // then its drawing. Split so the simulation can be run and timed alone.
    // (The proximity lines belong to the repulsion pass and so to simulate(),
    // in the modes that draw them.)
    void simulate();
    void render();
    void repelAllParticles();
    void renderAllParticlesNoFlatShade();
    void renderAllParticlesFlatShade();
    void renderAllRibbons();
    void setColors();
    void add() { total += 1; }
    void subtract() { total -= 1; }
    std::vector<Particle>* getList() { return &myList; }
};
