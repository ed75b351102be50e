// One particle: colour easing, its band's level, the wells' pull or the noise
// flow, integration, the 24-entry trail and the ribbon drawn through it.
// Float arithmetic in the order written (double only where noted): the
// field's reference runs depend on it.
#include "particle.h"

#include <cmath>
#include <cstdlib>

#include "gravity.h"
#include "lumenvortexApplet.h"
#include "particleControl.h"

float Particle::sSinePer[Particle::MAX_TAIL_LENGTH];
bool Particle::sStaticDataInited = false;

Particle::Particle(int sentIndex, ParticleControl* controlSent, std::vector<Particle>* particleListSent,
                   std::vector<Gravity>* gravityListSent, Vector3D a, Vector3D v, Vector3D l)
    : invM(4), newLevel(0), closestGravity(nullptr) {
    control = controlSent;
    particleList = particleListSent;
    gravityList = gravityListSent;

    if (!sStaticDataInited) InitStaticData();

    index = sentIndex;
    M = 0.25f;
    Q = -0.25f;
    damp = 0.96f;
    gone = false;
    acc = a;
    vel = v;
    loc = l;
    maxVel = 15;
    myLevel = 0;
    tailLength = MAX_TAIL_LENGTH;

    setColor();
    rr = rd;
    gg = gd;
    bb = bd;

    for (int i = 0; i < tailLength; i++) {
        x[i] = 0;
        y[i] = 0;
        z[i] = 0;
        xv[i] = 0;
        yv[i] = 0;
        zv[i] = 0;
        pn[i] = 0;
    }

    // The particles made for one target start with small first velocities
    // spread evenly around a circle.
    float angle = TWO_PI / (float)control->total * (float)index;
    xv[0] = (float)(0.1 * std::cos((double)angle));
    yv[0] = (float)(0.1 * std::sin((double)angle));
    zv[0] = (float)(0.1 * std::sin((double)angle));

    xOff = 0;
    yOff = 0;
    zOff = 0;
}

// The ribbon's width profile: 0 at the head, widest halfway along.
void Particle::InitStaticData() {
    if (sStaticDataInited) return;
    for (int i = 0; i < MAX_TAIL_LENGTH; i++) {
        sSinePer[i] = std::sin((float)i / (float)MAX_TAIL_LENGTH * PI);
    }
    sStaticDataInited = true;
}

// The current colour is left alone so that a recoloured particle fades to its
// new target through getColor().
void Particle::setColor() {
    myColor = colors.getRandomColor();
    rd = red(myColor) / 255.0f;
    gd = green(myColor) / 255.0f;
    bd = blue(myColor) / 255.0f;
    myOtherColor = colors.getRandomColor();
    myFlatColor = myColor;
}

void Particle::getColor() {
    rr = rr + (rr - rd) * (-0.01f);
    gg = gg + (gg - gd) * (-0.01f);
    bb = bb + (bb - bd) * (-0.01f);
}

// Particles share bands 3..102, repeating every 100 particles; instant
// attack, 20 % decay per frame.
void Particle::updateSoundLevel() {
    newLevel = sounds.getLevel(index % 100 + 3);
    if (newLevel > myLevel) {
        myLevel = newLevel;
    } else {
        myLevel = myLevel + myLevel * (-0.2f);
    }
}

void Particle::setGravForce() {
    for (Gravity& g : *gravityList) {
        Vector3D f = g.calcGravForce(*this);
        f.div(M);
        acc.add(f);
    }
}

// Three 8-octave samples per particle; the index shifts each particle's phase
// in time so that neighbours do not move in lockstep. A silent particle does
// not drift.
void Particle::perlinDrift() {
    float t = gFrameStartTime;
    float v[3];

    v[0] = loc.x * 0.002f;
    v[1] = loc.y * 0.002f;
    v[2] = (float)index / 1000 + t;
    float a1 = perlin.perlin_noise_3D(v);

    v[0] = loc.y * 0.002f;
    v[1] = loc.z * 0.002f;
    v[2] = (float)index / 500 + t;
    float a2 = perlin.perlin_noise_3D(v);

    v[0] = loc.z * 0.002f;
    v[1] = loc.x * 0.002f;
    v[2] = (float)index / 250 + t;
    float a3 = perlin.perlin_noise_3D(v);

    float s = 0.2f * myLevel;
    acc.add(Vector3D(a1 * s, a2 * s, a3 * s));
}

void Particle::pullTowardsCenter() {
    Vector3D pull = Vector3D::sub(Vector3D(0, 0, 0), loc);
    pull.mult(gMode.pullTowardCenterStrength());
    acc.add(pull);
}

// Damping comes first; the speed limit sees the damped velocity.
void Particle::move() {
    vel.add(acc);
    vel.mult(damp);
    vel.limit(maxVel);
    loc.add(vel);
    acc.setXYZ(0, 0, 0);
}

// The arrays shift rather than wrap: entry 0 is always the ribbon's head.
// Older points spread outwards (or draw inwards in stroke mode) about the
// origin, which is what makes the trails bloom.
void Particle::setMoveHistory() {
    int T = tailLength;
    for (int j = T - 1; j > 0; j--) {
        x[j] = x[j - 1];
        y[j] = y[j - 1];
        z[j] = z[j - 1];
        xv[j] = xv[j - 1];
        yv[j] = yv[j - 1];
        zv[j] = zv[j - 1];
        pn[j] = pn[j - 1];
    }

    x[0] = loc.x;
    y[0] = loc.y;
    z[0] = loc.z;
    xv[0] = vel.x;
    yv[0] = vel.y;
    zv[0] = vel.z;
    pn[0] = myLevel / 15;

    if (gMode.strokeMode()) {
        for (int j = 1; j < T; j++) {
            x[j] = x[j] + x[j] * (-0.05f);
            y[j] = y[j] + y[j] * (-0.05f);
            z[j] = z[j] + z[j] * (-0.05f);
        }
    } else {
        for (int j = 1; j < T; j++) {
            x[j] = x[j] + x[j] * 0.025f;
            y[j] = y[j] + y[j] * 0.025f;
            z[j] = z[j] + z[j] * 0.025f;
        }
    }
}

namespace {

void setRGBA(float rgba[4], float r, float g, float b, float a) {
    rgba[0] = r;
    rgba[1] = g;
    rgba[2] = b;
    rgba[3] = a;
}

}  // namespace

RibbonLook RibbonLook::current() {
    RibbonLook look;
    look.blackAndWhite = gMode.blackAndWhite();
    look.erratic = gMode.erraticRibbons();
    look.flatShade = gMode.flatShade();
    look.simpleShade = gMode.simpleShade();
    look.stroke = gMode.strokeMode();
    look.textured = gMode.textureRibbons();
    return look;
}

void RibbonLook::applyGLState() const {
    if (textured) {
        setTexturing(true);
        glBindTexture(GL_TEXTURE_2D, rainbowBlur ? rainbowBlur->GetTexID() : 0);
    } else {
        setTexturing(false);
    }
    setPolygonOutline(stroke);
}

void Particle::ribbonEntryValues(int i, float per, const RibbonLook& look, bool fastUnit, float rgba[4]) {
    float s = sSinePer[i];

    // Components under 1 in size add nothing: a slow entry is transparent.
    int speed = std::abs((int)xv[i]) + std::abs((int)yv[i]) + std::abs((int)zv[i]);

    float w;
    if (look.blackAndWhite) {
        w = 2 * s;
        setRGBA(rgba, 1, 1, 1, (float)speed / 500 * per * pn[i]);
    } else if (!look.flatShade) {
        w = 4 * s;
        setRGBA(rgba, rr, gg, bb, (float)speed / 50 * per * pn[i]);
    } else if (look.simpleShade) {
        w = 4 * pn[i] * s;
        setRGBA(rgba, rr, gg, bb, (float)speed / 50 * pn[i] * per);
    } else {
        // Flat red strip whose shade steps with the direction of travel.
        w = 1.5f * s;
        int a = 0;
        if (i > 0) {
            double dx = (double)x[i] - (double)x[i - 1];
            double dy = (double)y[i] - (double)y[i - 1];
            double dz = (double)z[i] - (double)z[i - 1];
            a = std::abs((int)std::atan2(dy, dx)) + std::abs((int)std::atan2(dx, dz)) +
                std::abs((int)std::atan2(dz, dy));
        }
        float c = constrain((float)a / (3 * PI), 0.0f, 1.0f);
        setRGBA(rgba, c * rr, 0, 0, 1);
    }

    Vector3D v(xv[i], yv[i], zv[i]);
    if (fastUnit) {
        // No zero test: a zero velocity times the huge estimate stays zero.
        v.mult(v.fastInvMagnitude());
    } else {
        v.normalize();
    }

    if (look.erratic) {
        v.mult(w);
        v.mult(4);
        xOff = v.x;
        yOff = v.y;
        zOff = v.z;
    } else if (look.stroke) {
        xOff = s;
        yOff = s;
        zOff = s;
    } else {
        v.mult(w);
        v.mult(8);
        xOff = v.x;
        yOff = v.y;
        zOff = v.z;
    }
}

void Particle::ribbonEntry(int i, float per, const RibbonLook& look, bool fastUnit) {
    float c[4];
    ribbonEntryValues(i, per, look, fastUnit, c);
    glColor4f(c[0], c[1], c[2], c[3]);
    glTexCoord2f(0, per * 0.75f);
    glVertex3f(x[i] + xOff, y[i] + yOff, z[i] + zOff);
    glTexCoord2f(1, per * 0.75f);
    glVertex3f(x[i] - xOff, y[i] - yOff, z[i] - zOff);
}

void Particle::renderRibbon() {
    RibbonLook look = RibbonLook::current();
    look.applyGLState();
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i < tailLength; i++) {
        float per = (float)(tailLength - i - 1) / (float)tailLength;
        ribbonEntry(i, per, look, false);
    }
    glEnd();
}
