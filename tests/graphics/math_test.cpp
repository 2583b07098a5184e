// Camera maths in the row-vector convention: look-at and perspective in both handednesses, the
// inverse with its singular case, and the row order handed to the GPU.
#include <gtest/gtest.h>

#include <cmath>

#include "graphics/math.h"

namespace vaxo2::graphics {
namespace {

constexpr float kDist = 12800.0f;

Vec3 project(const Vec3& p, const Mat4& view, const Mat4& projection) {
    const Vec4 c = transformVec4(p, view * projection);
    return Vec3{c.x / c.w, c.y / c.w, c.z / c.w};
}

TEST(Math, LookAtPutsTheEyeAtTheOriginLookingDownTheRightAxis) {
    const Mat4 rh = lookAtRH(Vec3{0, 0, kDist}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const Vec3 a = rh.transformPoint(Vec3{100, 50, 0});
    EXPECT_FLOAT_EQ(a.x, 100);
    EXPECT_FLOAT_EQ(a.y, 50);
    EXPECT_FLOAT_EQ(a.z, -kDist);  // right-handed: the scene lies down -z

    const Mat4 lh = lookAtLH(Vec3{0, 0, -kDist}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const Vec3 b = lh.transformPoint(Vec3{100, 50, 0});
    EXPECT_FLOAT_EQ(b.x, 100);  // x still grows to the right
    EXPECT_FLOAT_EQ(b.y, 50);
    EXPECT_FLOAT_EQ(b.z, kDist);

    // An eye off the axis: the target lands straight ahead.
    const Mat4 side = lookAtRH(Vec3{300, 0, 0}, Vec3{0, 0, 0}, Vec3{0, 1, 0});
    const Vec3 c = side.transformPoint(Vec3{0, 0, 0});
    EXPECT_NEAR(c.x, 0, 1e-3);
    EXPECT_NEAR(c.y, 0, 1e-3);
    EXPECT_NEAR(c.z, -300, 1e-3);
}

TEST(Math, PerspectiveMapsTheDesignAreaOntoTheViewportEdges) {
    const float fovY = 2.0f * std::atan(360.0f / kDist);
    for (int handed = 0; handed < 2; ++handed) {
        const Mat4 view = handed == 0 ? lookAtRH(Vec3{0, 0, kDist}, {}, Vec3{0, 1, 0})
                                      : lookAtLH(Vec3{0, 0, -kDist}, {}, Vec3{0, 1, 0});
        const Mat4 projection = handed == 0 ? perspectiveFovRH(fovY, 1280.0f / 720.0f, 0, kDist)
                                            : perspectiveFovLH(fovY, 1280.0f / 720.0f, 0, kDist);
        const Vec3 corner = project(Vec3{640, 360, 0}, view, projection);
        EXPECT_NEAR(corner.x, 1.0f, 1e-5) << handed;
        EXPECT_NEAR(corner.y, 1.0f, 1e-5) << handed;
        // A near plane at 0 sends every depth to 1.
        EXPECT_NEAR(corner.z, 1.0f, 1e-6) << handed;
        const Vec3 other = project(Vec3{-320, -180, 0}, view, projection);
        EXPECT_NEAR(other.x, -0.5f, 1e-5);
        EXPECT_NEAR(other.y, -0.5f, 1e-5);
    }
    // A near plane in front: depth runs from 0 at near to 1 at far.
    const Mat4 p = perspectiveFovLH(1.0f, 1.0f, 10.0f, 100.0f);
    EXPECT_NEAR(project(Vec3{0, 0, 10}, Mat4::identity(), p).z, 0.0f, 1e-6);
    EXPECT_NEAR(project(Vec3{0, 0, 100}, Mat4::identity(), p).z, 1.0f, 1e-6);
    const Mat4 q = perspectiveFovRH(1.0f, 1.0f, 10.0f, 100.0f);
    EXPECT_NEAR(project(Vec3{0, 0, -10}, Mat4::identity(), q).z, 0.0f, 1e-6);
    EXPECT_NEAR(project(Vec3{0, 0, -100}, Mat4::identity(), q).z, 1.0f, 1e-6);
}

TEST(Math, InverseUndoesACompositeAndFlagsSingularMatrices) {
    const Mat4 m = Mat4::scaling(Vec3{2, 3, 0.5f}) * Mat4::rotationAxis(Vec3{1, 2, 3}, 0.7f) *
                   Mat4::translation(Vec3{10, -20, 5});
    bool singular = true;
    const Mat4 inv = inverse(m, singular);
    EXPECT_FALSE(singular);
    EXPECT_TRUE(nearlyEqual(m * inv, Mat4::identity(), 1e-5f));
    EXPECT_TRUE(nearlyEqual(inv * m, Mat4::identity(), 1e-5f));
    EXPECT_NEAR(determinant(m), 3.0f, 1e-4);

    const Mat4 flat = Mat4::scaling(Vec3{1, 0, 1}) * Mat4::translation(Vec3{5, 5, 5});
    const Mat4 none = inverse(flat, singular);
    EXPECT_TRUE(singular);
    EXPECT_TRUE(nearlyEqual(none, Mat4::identity(), 0.0f));
    EXPECT_EQ(determinant(flat), 0.0f);
}

TEST(Math, RowOrderAndVectorHelpers) {
    const std::array<float, 16> a = toArray(Mat4::translation(Vec3{7, 8, 9}));
    EXPECT_EQ(a[12], 7);
    EXPECT_EQ(a[13], 8);
    EXPECT_EQ(a[14], 9);
    EXPECT_EQ(a[3], 0);
    const Mat4 r = Mat4::rotationAxis(Vec3{0, 0, 1}, 0.3f);
    EXPECT_TRUE(fromArray(toArray(r)) == r);
    EXPECT_TRUE(transpose(transpose(r)) == r);
    EXPECT_FLOAT_EQ(transpose(r).m[0][1], r.m[1][0]);

    const Vec3 z = cross(Vec3{1, 0, 0}, Vec3{0, 1, 0});
    EXPECT_FLOAT_EQ(z.z, 1);
    const Vec3 n = normalize(Vec3{3, 0, 4});
    EXPECT_FLOAT_EQ(n.x, 0.6f);
    EXPECT_FLOAT_EQ(n.z, 0.8f);
    const Vec3 zero = normalize(Vec3{0, 0, 0});
    EXPECT_EQ(zero.x, 0);
    EXPECT_FALSE(std::isnan(zero.y));
    // Directions ignore translation.
    const Vec3 d = transformNormal(Vec3{1, 0, 0}, Mat4::translation(Vec3{5, 5, 5}));
    EXPECT_FLOAT_EQ(d.x, 1);
    EXPECT_FLOAT_EQ(d.y, 0);
    EXPECT_FALSE(nearlyEqual(Mat4::identity(), Mat4::translation(Vec3{0, 1e-3f, 0}), 1e-4f));
}

}  // namespace
}  // namespace vaxo2::graphics
