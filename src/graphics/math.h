#pragma once
// Vector and matrix helpers for the camera and the layer tree. The matrix type, its products
// and its basic transforms live in transform.h; this adds what a camera needs. Every matrix is
// in the row-vector convention: a point p maps to p * M, translation sits in the last row, and
// A * B applies A first. A matrix is handed to the GPU as 16 floats in row order.
#include <array>

#include "graphics/transform.h"

namespace vaxo2::graphics {

struct Vec4 {
    float x = 0, y = 0, z = 0, w = 0;
};

float dot(const Vec3& a, const Vec3& b);
Vec3 cross(const Vec3& a, const Vec3& b);
float length(const Vec3& v);
// The zero vector stays zero.
Vec3 normalize(const Vec3& v);
Vec3 operator+(const Vec3& a, const Vec3& b);
Vec3 operator-(const Vec3& a, const Vec3& b);
Vec3 operator*(const Vec3& v, float s);

// p * M with w = 1, without the perspective divide.
Vec4 transformVec4(const Vec3& p, const Mat4& m);
// p * M with w = 0 (a direction: translation ignored).
Vec3 transformNormal(const Vec3& v, const Mat4& m);

Mat4 transpose(const Mat4& m);
// Same as Mat4::inverse, but always fills `out`: with the inverse, or with the identity when
// `singular` comes back true.
Mat4 inverse(const Mat4& m, bool& singular);
float determinant(const Mat4& m);

// View matrices looking from `eye` at `at`, `up` giving the vertical.
Mat4 lookAtRH(const Vec3& eye, const Vec3& at, const Vec3& up);
Mat4 lookAtLH(const Vec3& eye, const Vec3& at, const Vec3& up);
// Perspective projections by vertical field of view (radians) and aspect (width / height),
// mapping depth from near..far onto 0..1. A near plane of 0 is allowed: every depth then comes
// out as 1.
Mat4 perspectiveFovRH(float fovY, float aspect, float zNear, float zFar);
Mat4 perspectiveFovLH(float fovY, float aspect, float zNear, float zFar);

// Row-order copy for the GPU interface.
std::array<float, 16> toArray(const Mat4& m);
Mat4 fromArray(const std::array<float, 16>& a);

// True when every element differs by at most `tolerance`.
bool nearlyEqual(const Mat4& a, const Mat4& b, float tolerance = 1e-5f);

}  // namespace vaxo2::graphics
