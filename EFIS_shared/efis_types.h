// Vector and matrix types of the calibration record.
#pragma once

#include <cstddef>

struct Vec3_f_t {
    float x;
    float y;
    float z;
};

// Row-major: matrix[r][c] lies at byte (3 * r + c) * 4.
struct Matrix3_f_t {
    float matrix[3][3];
};

static_assert(sizeof(Vec3_f_t) == 12, "Vec3_f_t");
static_assert(offsetof(Vec3_f_t, y) == 4 && offsetof(Vec3_f_t, z) == 8, "Vec3_f_t fields");
static_assert(sizeof(Matrix3_f_t) == 36, "Matrix3_f_t");
