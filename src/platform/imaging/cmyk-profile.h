// CMYK pixels to screen colours through the picture's own colour profile (lcms2), so that a
// scanned or prepress CMYK picture prints in the colours its profile describes instead of the
// plain arithmetic conversion.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/canvas.h"

namespace vellumora::pictures {

// Converts a width × height CMYK picture, whose row y (from the top) `row` gives as C, M, Y, K
// bytes per pixel (0 = no ink), into `out` as opaque BGRA in sRGB, with the ICC profile
// `profile` of `size` bytes (perceptual rendering). False, with `out` untouched and the reason
// in *why, when the profile is not a usable CMYK profile.
bool CmykWithProfile(const void* profile, std::size_t size, int32_t width, int32_t height,
                     const std::function<const uint8_t*(int32_t row)>& row, Bitmap& out,
                     std::string* why);

}  // namespace vellumora::pictures
