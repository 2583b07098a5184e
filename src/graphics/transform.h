#pragma once
// The 4x4 transforms the layer tree composes. Row-vector convention: a point p maps to p * M,
// translation sits in the last row, and M1 * M2 applies M1 first. Rotation about an axis turns
// counter-clockwise (seen with y up and the axis towards the viewer) for a positive angle.
#include <array>
#include <cstdint>

#include "queue/queued_command.h"

namespace vaxo2::graphics {

struct Vec3 {
    float x = 0, y = 0, z = 0;
};

struct Mat4 {
    std::array<std::array<float, 4>, 4> m{};

    static Mat4 identity();
    static Mat4 translation(const Vec3& v);
    static Mat4 scaling(const Vec3& v);
    static Mat4 rotationAxis(const Vec3& axis, float angle);

    Mat4 operator*(const Mat4& o) const;
    bool operator==(const Mat4& o) const { return m == o.m; }
    // Returns false (and leaves `out` alone) when the matrix is singular.
    bool inverse(Mat4& out) const;
    Vec3 transformPoint(const Vec3& p) const;
};

}  // namespace vaxo2::graphics
