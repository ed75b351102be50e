// A gravity well: one of a handful of pulsing attractors the particles swirl
// about. It follows one spectrum band, repels the other wells, is pulled back
// to the origin, is drawn as a glowing billboard (or a flat disc and ring),
// and holds the force law that acts on particles.
#pragma once

#include <vector>

#include "Vector3D.h"
#include "libp5.h"

class GravityControl;
class Particle;

class Gravity {
public:
    int index;
    Vector3D loc;
    Vector3D vel;
    Vector3D acc;
    float maxVel;
    float damp;
    float E, R, F, P, A;
    float Q;
    float M;
    float x, y, z;
    float xv, yv, zv;
    float radius;
    float myLevel;
    float newLevel;
    float d;
    float distance;
    bool gone;
    color ellipseColor;
    color ringColor;
    GravityControl* control;
    std::vector<Gravity>* gravityList;

    Gravity(int indexSent, GravityControl* controlSent, std::vector<Gravity>* gravitySent,
            Vector3D a, Vector3D v, Vector3D l);

    void exist();
    // exist() without render(): level, repulsion, pull, move.
    void step();
    void getAudioLevel();
    void repelGravities();
    void pullTowardsCenter();
    void move();
    void render();
    // render()'s first step: d moves 20 % of the way to its target.
    void easeSize();
    Vector3D calcGravForce(const Particle& p);
    void setRandomPosition();

    float getQ() const { return Q; }
    Vector3D getLoc() const { return loc; }
    Vector3D getVel() const { return vel; }
    Vector3D getAcc() const { return acc; }
    void setLoc(Vector3D v) { loc = v; }
    void setVel(Vector3D v) { vel = v; }
    void setAcc(Vector3D v) { acc = v; }
};
