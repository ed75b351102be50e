// A gravity well's frame and its force law on particles. Everything is float
// and written in the order it is evaluated: the field's reference runs (and
// their hash) depend on it.
#include "gravity.h"

#include "GLInit.h"
#include "gravityControl.h"
#include "lumenvortexApplet.h"
#include "particle.h"

Gravity::Gravity(int indexSent, GravityControl* controlSent, std::vector<Gravity>* gravitySent,
                 Vector3D a, Vector3D v, Vector3D l)
    : E(0), R(0), F(0), P(0), A(0), xv(0), yv(0), zv(0), radius(25), newLevel(0), distance(0) {
    index = indexSent;
    control = controlSent;
    gravityList = gravitySent;
    acc = a;
    vel = v;
    loc = l;
    maxVel = 5;
    myLevel = 0;
    // Three draws, one statement each: the order of draws is part of the
    // system's random sequence.
    x = random(-5, 5);
    y = random(-5, 5);
    z = random(-5, 5);
    Q = 2.5f;
    M = 0.08f;
    damp = 0.95f;
    d = 0;
    ellipseColor = colors.getRandomColor();
    ringColor = color(0, 0, 0);
    gone = false;
}

void Gravity::exist() {
    step();
    render();
}

void Gravity::step() {
    getAudioLevel();
    repelGravities();
    pullTowardsCenter();
    move();
}

// Wells 0, 1, 2, ... listen to bands 5, 8, 11, ...: instant attack, 7.5 %
// decay per frame.
void Gravity::getAudioLevel() {
    newLevel = sounds.getLevel(index * 3 + 5);
    if (newLevel > myLevel) {
        myLevel = newLevel;
    } else {
        myLevel = myLevel + myLevel * (-0.075f);
    }
    radius = control->baseSize * myLevel / 15 + 25;
}

// Wells earlier in the list have already moved this frame; later ones are
// still where they were last frame.
void Gravity::repelGravities() {
    Q = myLevel / 7;
    M = Q / 10;
    for (Gravity& g : *gravityList) {
        if (g.index == index) continue;
        Vector3D dir = Vector3D::sub(loc, g.loc);
        R = dir.dot(dir);
        if (R > 1) {
            E = g.Q / R;
            F = E * Q;
            A = (M > 0 ? F / M : F) * 5;
            dir.mult(A);
            acc.add(dir);
        } else {
            // Coincident wells: the raw difference, no inverse square.
            acc.add(dir);
        }
    }
}

void Gravity::pullTowardsCenter() {
    distance = loc.magnitude();
    Vector3D pull = loc;
    pull.mult(-0.01f);
    acc.add(pull);
}

// Damping comes first; the speed limit sees the damped velocity.
void Gravity::move() {
    vel.add(acc);
    vel.mult(damp);
    vel.limit(maxVel);
    loc.add(vel);
    acc.setXYZ(0, 0, 0);
}

void Gravity::easeSize() {
    float target = 25 - distance / 20 - 20 * M;
    d = d + (d - target) * (-0.2f);
}

void Gravity::render() {
    easeSize();

    if (gMode.flatShade()) {
        color white(255, 255, 255);
        white.alpha = 0;
        renderEllipse(loc.x, loc.y, loc.z, d - myLevel, white, 1);
        color grey(215, 215, 215);
        grey.alpha = 0;
        renderRing(loc.x, loc.y, loc.z, myLevel + 0.75f * d, grey, (255 - 5 * myLevel) / 255);
        return;
    }

    // Before the first GL set-up there are no textures to draw with.
    if (!haloOrb || !rainbow) return;

    glEnable(GL_TEXTURE_2D);
    pushMatrix();
    translate(loc.x, loc.y, loc.z);
    rotateY(-pov.yRot);
    rotateX(-pov.xRot);

    // Capped before the conversion: a loud well's radius can run past what
    // an int holds.
    float a = 5 * radius;
    if (a < 0) a = 0;
    if (a > 255) a = 255;
    int alpha = (int)a;

    color tint = gMode.blackAndWhite() ? color(255, 255, 255) : color(200, 175, 255);
    image(*haloOrb, -radius, -radius, 2 * radius, 2 * radius, tint, (unsigned char)alpha);
    image(*rainbow, -radius / 4, -radius / 4, radius / 2, radius / 2);
    popMatrix();
}

// Pulls a particle of negative charge in between baseSize and 500 units of
// shifted distance, pushes it out inside baseSize whatever the charges. The
// particle divides the result by its own mass.
Vector3D Gravity::calcGravForce(const Particle& p) {
    Vector3D dir = Vector3D::sub(loc, p.getLoc());
    R = dir.magnitude() + radius / (-5.0f);
    if (R == 0) return dir;
    E = p.getQ() / (R * R);
    F = E * Q;
    A = F / (0.0001f + M) * (500 - R) / 15;
    float k = (R > control->baseSize) ? A : control->baseSize - R;
    dir.mult(-k);
    return dir;
}

void Gravity::setRandomPosition() {
    loc.z = random(-400, 400);
    loc.y = random(-400, 400);
    loc.x = random(-400, 400);
}
