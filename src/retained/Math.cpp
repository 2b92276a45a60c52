// Vectors and affine transforms of the retained-mode engine.
#include "retained/Math.h"

namespace vesk::retained {

Matrix4 Matrix4::translation(double x, double y, double z) {
    Matrix4 t;
    t.m[3][0] = x;
    t.m[3][1] = y;
    t.m[3][2] = z;
    return t;
}

Matrix4 Matrix4::rotation(Vector3 axis, double angle) {
    const double length = std::sqrt(double(axis.x) * axis.x + double(axis.y) * axis.y +
                                    double(axis.z) * axis.z);
    if (length == 0.0) return identity();
    const double x = axis.x / length, y = axis.y / length, z = axis.z / length;
    const double c = std::cos(angle), s = std::sin(angle), t = 1.0 - c;
    // Row-vector form of the axis-angle rotation: (1, 0, 0) about +z goes to (c, s, 0).
    Matrix4 r;
    r.m[0][0] = t * x * x + c;
    r.m[0][1] = t * x * y + s * z;
    r.m[0][2] = t * x * z - s * y;
    r.m[1][0] = t * x * y - s * z;
    r.m[1][1] = t * y * y + c;
    r.m[1][2] = t * y * z + s * x;
    r.m[2][0] = t * x * z + s * y;
    r.m[2][1] = t * y * z - s * x;
    r.m[2][2] = t * z * z + c;
    return r;
}

Matrix4 Matrix4::operator*(const Matrix4& right) const {
    Matrix4 p;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double sum = 0.0;
            for (int k = 0; k < 4; ++k) sum += m[i][k] * right.m[k][j];
            p.m[i][j] = sum;
        }
    return p;
}

void Matrix4::transformPoint(double x, double y, double z, double out[3]) const {
    for (int j = 0; j < 3; ++j) out[j] = x * m[0][j] + y * m[1][j] + z * m[2][j] + m[3][j];
}

Vector3 Matrix4::transformPoint(Vector3 p) const {
    double out[3];
    transformPoint(p.x, p.y, p.z, out);
    return {float(out[0]), float(out[1]), float(out[2])};
}

Vector3 Matrix4::transformDirection(Vector3 d) const {
    double out[3];
    for (int j = 0; j < 3; ++j) out[j] = d.x * m[0][j] + d.y * m[1][j] + d.z * m[2][j];
    return {float(out[0]), float(out[1]), float(out[2])};
}

Matrix4 Matrix4::inverseAffine() const {
    const double a = m[0][0], b = m[0][1], c = m[0][2];
    const double d = m[1][0], e = m[1][1], f = m[1][2];
    const double g = m[2][0], h = m[2][1], i = m[2][2];
    const double det = a * (e * i - f * h) - b * (d * i - f * g) + c * (d * h - e * g);
    Matrix4 inv;
    if (det == 0.0) return inv;  // a degenerate frame has no inverse; leave it unmoved
    const double s = 1.0 / det;
    inv.m[0][0] = (e * i - f * h) * s;
    inv.m[0][1] = (c * h - b * i) * s;
    inv.m[0][2] = (b * f - c * e) * s;
    inv.m[1][0] = (f * g - d * i) * s;
    inv.m[1][1] = (a * i - c * g) * s;
    inv.m[1][2] = (c * d - a * f) * s;
    inv.m[2][0] = (d * h - e * g) * s;
    inv.m[2][1] = (b * g - a * h) * s;
    inv.m[2][2] = (a * e - b * d) * s;
    for (int j = 0; j < 3; ++j)
        inv.m[3][j] = -(m[3][0] * inv.m[0][j] + m[3][1] * inv.m[1][j] + m[3][2] * inv.m[2][j]);
    return inv;
}

}  // namespace vesk::retained
