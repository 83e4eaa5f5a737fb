// Pixel work shared by the main dialog's painters and its software renderer:
// buffers of 0x00RRGGBB pixels, rows from the top. Every copy is clipped to
// both the target and the source, so a picture of an unexpected size, or one
// that failed to load (size 0), never reaches outside a buffer.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "SetupDlg.h"
#include "SkinBitmap.h"

namespace pixels {

// A pixel buffer of width x height that the caller owns.
struct Frame {
    uint32_t* data = nullptr;
    int width = 0;
    int height = 0;
};

// Marks a copy that takes every pixel of its source rectangle.
inline constexpr uint64_t kOpaque = ~0ull;

void Fill(Frame frame, uint32_t colour);

// Copies the source rectangle [left, right) x [top, bottom) of the picture,
// cut to the picture's own size, to the frame with the picture's origin at
// (x, y), cut to the frame. Source pixels equal to key are left out unless
// key is kOpaque.
void CopyPicture(Frame frame, const BMData& picture, int x, int y, int left, int top, int right, int bottom,
                 uint64_t key = kOpaque);
// The whole picture.
void DrawPicture(Frame frame, const BMData& picture, int x, int y, uint64_t key = kOpaque);

// Puts the pixels into a bitmap as a 32-bit top-down image, whatever the
// bitmap's own format; the lines set.
int PutPixels(HDC dc, HBITMAP bitmap, const uint32_t* data, int width, int height);

// The install animation's steps, on plain values so they can be checked
// at any tick.
// The uncovering disc's next radius: one pixel more a frame towards the
// target the progress (0..1000) sets, at once down to a lower target.
int32_t NextDiscRadius(int32_t current, int32_t maxRadius, int32_t progress);
// Spawns a ring when none lives or the newest is 700 ms old, drops rings of
// 5 s, and sets every other ring's radius and alpha for tick now.
void AdvanceRings(std::vector<RippleRing>& rings, uint32_t now);
// The colour by whole distance from the centre (kRampSize entries): each ring
// darkens the grey inside it.
inline constexpr int kRampSize = 1024;
void BuildRamp(uint32_t* ramp, const std::vector<RippleRing>& rings);

}  // namespace pixels
