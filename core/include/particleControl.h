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
    void repelAllParticles();
    void renderAllParticlesNoFlatShade();
    void renderAllParticlesFlatShade();
    void renderAllRibbons();
    void setColors();
    void add() { total += 1; }
    void subtract() { total -= 1; }
    std::vector<Particle>* getList() { return &myList; }
};
