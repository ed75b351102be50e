// A particle: one charged point of the field with its 24-entry trail. It
// follows one spectrum band, feels the wells (or the noise flow), and draws a
// ribbon through its history. A plain fixed-size record with no heap memory:
// the population keeps them by value in one contiguous list.
#pragma once

#include <vector>

#include "Vector3D.h"
#include "libp5.h"

class Gravity;
class ParticleControl;

// The mode flags a ribbon reads, fetched once per strip (or once per batch).
struct RibbonLook {
    bool blackAndWhite;
    bool erratic;
    bool flatShade;
    bool simpleShade;
    bool stroke;
    bool textured;

    static RibbonLook current();
    // Texture and polygon mode shared by every strip drawn with this look.
    void applyGLState() const;
};

class Particle {
public:
    static const int MAX_TAIL_LENGTH = 24;
    static const int SPECIAL_INDEX = 0;

    int index;
    Vector3D loc;
    Vector3D vel;
    Vector3D acc;
    float maxVel;
    float damp;
    float Q;
    float M;
    float invM;
    int tailLength;
    float pn[MAX_TAIL_LENGTH];
    float x[MAX_TAIL_LENGTH], y[MAX_TAIL_LENGTH], z[MAX_TAIL_LENGTH];
    float xv[MAX_TAIL_LENGTH], yv[MAX_TAIL_LENGTH], zv[MAX_TAIL_LENGTH];
    float xOff, yOff, zOff;
    color myColor;
    color myOtherColor;
    color myFlatColor;
    float rr, gg, bb;
    float rd, gd, bd;
    float myLevel;
    float newLevel;
    bool gone;
    Gravity* closestGravity;
    ParticleControl* control;
    std::vector<Particle>* particleList;
    std::vector<Gravity>* gravityList;

    static float sSinePer[MAX_TAIL_LENGTH];
    static bool sStaticDataInited;

    Particle(int sentIndex, ParticleControl* controlSent, std::vector<Particle>* particleListSent,
             std::vector<Gravity>* gravityListSent, Vector3D a, Vector3D v, Vector3D l);
    ~Particle() {}

    static void InitStaticData();
    void setColor();
    void getColor();
    void updateSoundLevel();
    void setGravForce();
    void perlinDrift();
    void pullTowardsCenter();
    void move();
    void setMoveHistory();
    void renderRibbon();
    // One history entry of a ribbon: colour, texture coordinates and the
    // vertex pair P + O, P - O, sent to GL. The batch drawing takes the
    // direction from the fast inverse square root (fastUnit), the single
    // strip from sqrt.
    void ribbonEntry(int i, float per, const RibbonLook& look, bool fastUnit);
    // The same entry as numbers, for the vertex arrays: sets xOff, yOff,
    // zOff and returns the colour in `rgba`.
    void ribbonEntryValues(int i, float per, const RibbonLook& look, bool fastUnit, float rgba[4]);

    float getQ() const { return Q; }
    Vector3D getLoc() const { return loc; }
    Vector3D getVel() const { return vel; }
    Vector3D getAcc() const { return acc; }
    void setLoc(Vector3D v) { loc = v; }
    void setVel(Vector3D v) { vel = v; }
    void setAcc(Vector3D v) { acc = v; }
};
