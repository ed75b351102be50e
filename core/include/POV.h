// The camera (global `pov`): orbits the centre on a slowly turning spin,
// eases its distance toward a target that grows with the well count, and
// loads the projection and view transform every frame.
#pragma once

class POV {
public:
    float r, rv;
    float d, dv;
    float xRot, yRot;
    float eX, eY, eZ;
    float cX, cY, cZ;
    float uX, uY, uZ;
    float dOffset;
    float targetD;
    int lastGravityTotalForDOffset;

    static constexpr float RANDOM_ROTATION_MIN = 0.001f;
    static constexpr float RANDOM_ROTATION_MAX = 0.01f;
    static constexpr float ROTATION_DECAY = 0.01f;

    POV();
    void initCamera();
    void exist();
    void findPosition();
    void setPosition();
    void setCamera();
    // The vertical field of view for a frame of this width / height.
    static float fieldOfView(float aspect);
    void calcNewTargetD();
    void setRandomRotation();
    void setRandomPosition();
};
