// The small fixed-point 3D pipeline of the turning screen transitions: 4 x 4
// matrices, rotations, the easing curve, perspective projection and a
// perspective-correct rasterizer of textured quads into 16-bit bitmaps.
//
// Every quantity is 16.16 fixed point (0x10000 = 1.0); angles are fractions
// of a quarter turn (0x10000 = 90 degrees). Products of two 16.16 values are
// formed in 64 bits. Some intermediates need 128 bits (__int128): the
// rasterizer keeps 1/z as 2^52 / z and u/z, v/z to match, 16 bits more than
// the vertices' own factors, so that a face seen straight on maps every
// pixel to its own texel; its edge and span slopes and the recovery of u and
// v shift those factors left by 16 before dividing, which passes 2^63 in 64
// bits. The easing curve's product of three factors (curve, distance, time)
// passes 2^63 as well, and the projection forms camera distance times a
// coordinate in 128 bits too. Screen y grows downwards; the camera looks
// along +z from -camera distance, so z = 0 is the screen plane at scale 1.
#pragma once

#include <cstdint>

#include "core/BitmapBuffer.h"

using Fixed = std::int32_t;
constexpr Fixed kFixedOne = 0x10000;
constexpr Fixed kQuarterTurn = 0x10000;

inline Fixed ToFixed(int pixels) { return static_cast<Fixed>(static_cast<std::int64_t>(pixels) * kFixedOne); }

struct Matrix4 {
  Fixed m[4][4];
};
Matrix4 IdentityMatrix();
Matrix4 TranslationMatrix(Fixed x, Fixed y, Fixed z);

struct QuadVertex {
  Fixed x, y, z;     // model
  int u, v;          // texture pixel
  Fixed tx, ty, tz;  // transformed
  Fixed sx, sy;      // projected on the screen
  Fixed uz, vz, iz;  // u/z, v/z and 1/z (16.16 scaled by 16)
};

struct TexturedQuad {
  QuadVertex v[4];  // in order around the outline
  const CBitmapBuffer* texture = nullptr;  // 16 bits
  unsigned flags = 0;
};

struct Viewport {
  Fixed camera;         // distance of the camera from the screen plane
  Fixed width, height;  // of the target
  CBitmapBuffer* target;  // 16 bits
};

// The easing cubic from `from` at t = 0 to `to` at t = duration, with slope
// a/16 at the start and b/16 at the end; t is clamped to 0..duration and a
// duration of 0 or less gives `to`.
Fixed Ease(std::int64_t t, std::int64_t duration, Fixed from, Fixed to, int a, int b);

// m = n x m.
void MatrixMultiply(Matrix4& m, const Matrix4& n);
Matrix4 RotationX(Fixed angle);
Matrix4 RotationY(Fixed angle);

void TransformQuad(TexturedQuad& quad, const Matrix4& m);
// Projects the transformed vertex. False when it lies at or behind the
// camera (nothing of its face can be drawn).
bool ProjectVertex(const Viewport& viewport, QuadVertex& vertex);
// Projects all four vertices; false when any lies at or behind the camera.
bool ProjectQuad(const Viewport& viewport, TexturedQuad& quad);
// Twice the signed screen area of the projected quad: positive when its
// outline runs clockwise on the screen (its front faces the viewer).
std::int64_t ProjectedArea(const TexturedQuad& quad);
// The index of the vertex with the smallest projected y (the first on ties).
int TopVertex(const TexturedQuad& quad);

// Draws the projected quad into the viewport's target. Flags: mode nibble
// (flags >> 4) & 15, 0 draws nothing; the effects pass 255. The quality flag
// samples the perspective more densely along each span.
void RasterizeTexturedQuad(const Viewport& viewport, const TexturedQuad& quad, bool quality, unsigned flags);
