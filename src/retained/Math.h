// Vectors and affine transforms of the retained-mode engine.
// Points are row vectors and transforms multiply on the right (p' = p * M), in a
// left-handed space: +x right, +y up, +z away from a viewer who looks along +z.
#pragma once

#include <cmath>

namespace vesk::retained {

struct Vector3 {
    float x = 0.0f;
    float y = 0.0f;
    float z = 0.0f;
};

// Affine transform in double precision, so that thousands of accumulated rotation
// steps do not drift; the bottom row holds the translation.
struct Matrix4 {
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    static Matrix4 identity() { return Matrix4{}; }
    static Matrix4 translation(double x, double y, double z);
    // Rotation by `angle` radians about `axis`; turning from +x towards +y for a positive
    // angle about +z. A zero axis gives the identity.
    static Matrix4 rotation(Vector3 axis, double angle);

    Matrix4 operator*(const Matrix4& right) const;

    void transformPoint(double x, double y, double z, double out[3]) const;
    Vector3 transformPoint(Vector3 p) const;
    Vector3 transformDirection(Vector3 d) const;
    // Inverse of an affine transform (3x3 part inverted in general, translation undone).
    Matrix4 inverseAffine() const;
};

}  // namespace vesk::retained
