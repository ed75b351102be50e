#include "POV.h"

#include <cmath>

#include "lumenvortexApplet.h"

namespace {

const float START_DISTANCE = 550.0f;
const float DISTANCE_PER_WELL = 20.0f;
const float DISTANCE_MIN = 250.0f;
const float DISTANCE_MAX = 600.0f;
const float DISTANCE_EASING = 0.1f;
const float PITCH_OFFSET = 0.25f;
const float WIDESCREEN_ASPECT = 1.2f;

}  // namespace

POV::POV()
    : r(0), rv(0), d(0), dv(0), xRot(0), yRot(0), eX(0), eY(0), eZ(0), cX(0), cY(0), cZ(0),
      uX(0), uY(0), uZ(0), dOffset(0), targetD(0), lastGravityTotalForDOffset(0) {
    initCamera();
}

void POV::initCamera() {
    r = 0;
    rv = 0;
    eX = eY = eZ = 0;
    cX = cY = cZ = 0;
    uX = 0;
    uY = 1;
    uZ = 0;
    d = START_DISTANCE;
    // No well count matches -1, so the first frame draws a distance target.
    lastGravityTotalForDOffset = -1;
}

void POV::exist() {
    findPosition();
    setPosition();
    setCamera();
}

void POV::findPosition() {
    if (gravityControl.total != lastGravityTotalForDOffset) {
        float base = random(DISTANCE_MIN, DISTANCE_MAX);
        targetD = base + DISTANCE_PER_WELL * gravityControl.total;
        lastGravityTotalForDOffset = gravityControl.total;
    }
    d = d + (d - targetD) * -DISTANCE_EASING;
    eX = d * std::cos((double)r);
    eZ = d * std::sin((double)r);
}

void POV::setPosition() {
    r = r + rv;
    // The spin settles at the smallest random speed and keeps turning there.
    if (std::fabs(rv) > RANDOM_ROTATION_MIN) rv = rv - rv * ROTATION_DECAY;
}

void POV::setCamera() {
    // Without a canvas yet, the default sketch size stands in rather than a zero height.
    float w = (float)xSize, h = (float)ySize;
    if (gApplet && gApplet->mHeight > 0) {
        w = (float)gApplet->mWidth;
        h = (float)gApplet->mHeight;
    }
    float aspect = w / h;
    if (gWidescreen) aspect *= WIDESCREEN_ASPECT;
    perspective(fieldOfView(aspect), aspect, 10, 5000);

    xRot = r - PITCH_OFFSET;
    yRot = PI * std::sin(1.25 * r);
    translate(0, 0, -d);
    rotateX(xRot);
    rotateY(yRot);
}

float POV::fieldOfView(float aspect) {
    // The field is sized for a lens of PI / 3 from top to bottom of a
    // landscape frame. A portrait frame (a phone's 9:16) gives that angle to
    // its width instead, so the whole field stays in view rather than a
    // slice of its middle; square and wider frames keep the lens as it is.
    if (aspect >= 1) return PI / 3;
    return 2 * std::atan(std::tan(PI / 6) / aspect);
}

void POV::calcNewTargetD() {
    float base = random(DISTANCE_MIN, DISTANCE_MAX);
    targetD = DISTANCE_PER_WELL * gravityControl.total + base;
}

void POV::setRandomRotation() {
    rv = random(RANDOM_ROTATION_MIN, RANDOM_ROTATION_MAX);
    if (random(1.0f) > 0.5f) rv = -rv;
}

void POV::setRandomPosition() {
    r = random(-TWO_PI, TWO_PI);
    // The well count that findPosition() last saw stays as it was: it only redraws on a change.
    float base = random(DISTANCE_MIN, DISTANCE_MAX);
    targetD = base + DISTANCE_PER_WELL * gravityControl.total;
}
