// Vector3D: the three-float value record that carries every position,
// velocity and acceleration of the field. Header-only and inline because the
// particle update and the pair repulsion call it per particle per frame.
// All arithmetic is 32-bit float, in the order written: the simulation's
// reference results (and the determinism hash) depend on it.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

class Vector3D {
public:
    float x, y, z;

    Vector3D() : x(0), y(0), z(0) {}
    Vector3D(float xSent, float ySent, float zSent) : x(xSent), y(ySent), z(zSent) {}
    Vector3D(float xSent, float ySent) : x(xSent), y(ySent), z(0) {}

    void setX(float v) { x = v; }
    void setY(float v) { y = v; }
    void setZ(float v) { z = v; }
    void setXYZ(float xSent, float ySent, float zSent) { x = xSent; y = ySent; z = zSent; }
    void setXYZ(const Vector3D& v) { x = v.x; y = v.y; z = v.z; }

    Vector3D copy() const { return *this; }
    static Vector3D copy(const Vector3D& v) { return v; }

    float magnitude() const { return std::sqrt((x * x + y * y) + z * z); }
    float magnitudeSquared() const { return (x * x + y * y) + z * z; }

    void add(const Vector3D& v) { x += v.x; y += v.y; z += v.z; }
    void sub(const Vector3D& v) { x -= v.x; y -= v.y; z -= v.z; }
    void mult(float n) { x *= n; y *= n; z *= n; }
    void div(float n) { x /= n; y /= n; z /= n; }

    float dot(const Vector3D& v) const { return (x * v.x + y * v.y) + z * v.z; }
    Vector3D cross(const Vector3D& v) const {
        return Vector3D(y * v.z - v.y * z, z * v.x - v.z * x, x * v.y - v.x * y);
    }

    void normalize() {
        float m = magnitude();
        if (m > 0) div(m);
    }

    void limit(float max) {
        float m = magnitude();
        if (m > max) {
            if (m > 0) div(m);
            mult(max);
        }
    }

    // One Newton-Raphson step on the classic bit-level estimate. A zero
    // vector yields a large finite number, never infinity.
    float fastInvMagnitude() const {
        float m2 = (x * x + y * y) + z * z;
        int32_t i;
        std::memcpy(&i, &m2, sizeof i);
        i = 0x5F3759DF - (i >> 1);
        float g;
        std::memcpy(&g, &i, sizeof g);
        return (1.5f - ((m2 * 0.5f) * g) * g) * g;
    }

    void fastNormalize() { mult(fastInvMagnitude()); }

    float heading2D() const { return -std::atan2(-y, x); }

    static Vector3D add(const Vector3D& a, const Vector3D& b) { return Vector3D(a.x + b.x, a.y + b.y, a.z + b.z); }
    static Vector3D sub(const Vector3D& a, const Vector3D& b) { return Vector3D(a.x - b.x, a.y - b.y, a.z - b.z); }
    static Vector3D div(const Vector3D& a, float n) { return Vector3D(a.x / n, a.y / n, a.z / n); }
    static Vector3D mult(const Vector3D& a, float n) { return Vector3D(a.x * n, a.y * n, a.z * n); }
    static float distance(const Vector3D& a, const Vector3D& b) { return sub(a, b).magnitude(); }
    static float angleBetween(const Vector3D& a, const Vector3D& b) {
        float m = a.magnitude() * b.magnitude();
        if (m == 0) return 0;
        float c = a.dot(b) / m;
        if (c > 1) c = 1;
        if (c < -1) c = -1;
        return std::acos(c);
    }
};
