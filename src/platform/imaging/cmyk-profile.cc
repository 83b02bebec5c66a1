// CMYK to sRGB with an embedded colour profile, on lcms2.
#include "platform/imaging/cmyk-profile.h"

#include <lcms2.h>

#include <memory>
#include <new>
#include <utility>

namespace vellumora::pictures {

namespace {

struct ProfileCloser {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
struct TransformCloser {
  void operator()(void* t) const { cmsDeleteTransform(t); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;
using Transform = std::unique_ptr<void, TransformCloser>;

}  // namespace

bool CmykWithProfile(const void* profile, std::size_t size, int32_t width, int32_t height,
                     const std::function<const uint8_t*(int32_t row)>& row, Bitmap& out,
                     std::string* why) {
  if (!profile || size == 0 || size > UINT32_MAX || width <= 0 || height <= 0) {
    *why = "no colour profile";
    return false;
  }
  Profile in(cmsOpenProfileFromMem(profile, static_cast<cmsUInt32Number>(size)));
  if (!in || cmsGetColorSpace(in.get()) != cmsSigCmykData) {
    *why = "the colour profile is not a CMYK profile";
    return false;
  }
  Profile srgb(cmsCreate_sRGBProfile());
  if (!srgb) {
    *why = "no sRGB profile";
    return false;
  }
  Transform transform(
      cmsCreateTransform(in.get(), TYPE_CMYK_8, srgb.get(), TYPE_BGRA_8, INTENT_PERCEPTUAL, 0));
  if (!transform) {
    *why = "the colour profile cannot be used";
    return false;
  }
  Bitmap converted;
  converted.width = width;
  converted.height = height;
  converted.stride = width * 4;
  try {
    // lcms2 leaves the alpha bytes alone: opaque from the start.
    converted.bgra.assign(static_cast<std::size_t>(converted.stride) * height, 255);
  } catch (const std::bad_alloc&) {
    *why = "not enough memory for the image";
    return false;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* src = row(y);
    if (!src) {
      *why = "the image's pixels cannot be read";
      return false;
    }
    cmsDoTransform(transform.get(), src,
                   converted.bgra.data() + static_cast<std::size_t>(y) * converted.stride,
                   static_cast<cmsUInt32Number>(width));
  }
  out = std::move(converted);
  return true;
}

}  // namespace vellumora::pictures
