#include "graphics/math.h"

#include <cmath>

namespace vaxo2::graphics {

float dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

Vec3 cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

float length(const Vec3& v) {
    return std::sqrt(dot(v, v));
}

Vec3 normalize(const Vec3& v) {
    const float l = length(v);
    if (!(l > 0.0f)) {
        return Vec3{0, 0, 0};
    }
    return Vec3{v.x / l, v.y / l, v.z / l};
}

Vec3 operator+(const Vec3& a, const Vec3& b) {
    return Vec3{a.x + b.x, a.y + b.y, a.z + b.z};
}

Vec3 operator-(const Vec3& a, const Vec3& b) {
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}

Vec3 operator*(const Vec3& v, float s) {
    return Vec3{v.x * s, v.y * s, v.z * s};
}

Vec4 transformVec4(const Vec3& p, const Mat4& m) {
    const auto& a = m.m;
    return Vec4{p.x * a[0][0] + p.y * a[1][0] + p.z * a[2][0] + a[3][0],
                p.x * a[0][1] + p.y * a[1][1] + p.z * a[2][1] + a[3][1],
                p.x * a[0][2] + p.y * a[1][2] + p.z * a[2][2] + a[3][2],
                p.x * a[0][3] + p.y * a[1][3] + p.z * a[2][3] + a[3][3]};
}

Vec3 transformNormal(const Vec3& v, const Mat4& m) {
    const auto& a = m.m;
    return Vec3{v.x * a[0][0] + v.y * a[1][0] + v.z * a[2][0],
                v.x * a[0][1] + v.y * a[1][1] + v.z * a[2][1],
                v.x * a[0][2] + v.y * a[1][2] + v.z * a[2][2]};
}

Mat4 transpose(const Mat4& m) {
    Mat4 r;
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            r.m[i][j] = m.m[j][i];
        }
    }
    return r;
}

Mat4 inverse(const Mat4& m, bool& singular) {
    Mat4 r;
    singular = !m.inverse(r);
    return singular ? Mat4::identity() : r;
}

float determinant(const Mat4& m) {
    // Laplace expansion along the first row, in double precision.
    double a[4][4];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            a[i][j] = m.m[i][j];
        }
    }
    auto minor3 = [&](int skipColumn) {
        double b[3][3];
        for (int i = 1; i < 4; ++i) {
            int c = 0;
            for (int j = 0; j < 4; ++j) {
                if (j != skipColumn) {
                    b[i - 1][c++] = a[i][j];
                }
            }
        }
        return b[0][0] * (b[1][1] * b[2][2] - b[1][2] * b[2][1]) -
               b[0][1] * (b[1][0] * b[2][2] - b[1][2] * b[2][0]) +
               b[0][2] * (b[1][0] * b[2][1] - b[1][1] * b[2][0]);
    };
    double det = 0.0;
    for (int j = 0; j < 4; ++j) {
        det += ((j % 2 == 0) ? 1.0 : -1.0) * a[0][j] * minor3(j);
    }
    return static_cast<float>(det);
}

namespace {

// The view basis from the axis that points away from the scene (z for right-handed, the
// negated one for left-handed).
Mat4 viewFromAxes(const Vec3& eye, const Vec3& zaxis, const Vec3& up) {
    const Vec3 xaxis = normalize(cross(up, zaxis));
    const Vec3 yaxis = cross(zaxis, xaxis);
    Mat4 r = Mat4::identity();
    r.m[0][0] = xaxis.x;
    r.m[1][0] = xaxis.y;
    r.m[2][0] = xaxis.z;
    r.m[0][1] = yaxis.x;
    r.m[1][1] = yaxis.y;
    r.m[2][1] = yaxis.z;
    r.m[0][2] = zaxis.x;
    r.m[1][2] = zaxis.y;
    r.m[2][2] = zaxis.z;
    r.m[3][0] = -dot(xaxis, eye);
    r.m[3][1] = -dot(yaxis, eye);
    r.m[3][2] = -dot(zaxis, eye);
    return r;
}

}  // namespace

Mat4 lookAtRH(const Vec3& eye, const Vec3& at, const Vec3& up) {
    return viewFromAxes(eye, normalize(eye - at), up);
}

Mat4 lookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up) {
    return viewFromAxes(eye, normalize(at - eye), up);
}

Mat4 perspectiveFovRH(float fovY, float aspect, float zNear, float zFar) {
    const float yScale = 1.0f / std::tan(fovY * 0.5f);
    const float xScale = yScale / aspect;
    Mat4 r;
    r.m[0][0] = xScale;
    r.m[1][1] = yScale;
    r.m[2][2] = zFar / (zNear - zFar);
    r.m[2][3] = -1.0f;
    r.m[3][2] = zNear * zFar / (zNear - zFar);
    return r;
}

Mat4 perspectiveFovLH(float fovY, float aspect, float zNear, float zFar) {
    const float yScale = 1.0f / std::tan(fovY * 0.5f);
    const float xScale = yScale / aspect;
    Mat4 r;
    r.m[0][0] = xScale;
    r.m[1][1] = yScale;
    r.m[2][2] = zFar / (zFar - zNear);
    r.m[2][3] = 1.0f;
    r.m[3][2] = -zNear * zFar / (zFar - zNear);
    return r;
}

std::array<float, 16> toArray(const Mat4& m) {
    std::array<float, 16> a{};
    for (int i = 0; i < 16; ++i) {
        a[i] = m.m[i / 4][i % 4];
    }
    return a;
}

Mat4 fromArray(const std::array<float, 16>& a) {
    Mat4 m;
    for (int i = 0; i < 16; ++i) {
        m.m[i / 4][i % 4] = a[i];
    }
    return m;
}

bool nearlyEqual(const Mat4& a, const Mat4& b, float tolerance) {
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            if (!(std::fabs(a.m[i][j] - b.m[i][j]) <= tolerance)) {
                return false;
            }
        }
    }
    return true;
}

}  // namespace vaxo2::graphics
