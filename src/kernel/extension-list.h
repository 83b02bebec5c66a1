// File-type tests by extension, shared by the scan cycle and the dispatcher.
#pragma once

#include <string_view>

namespace vellumora {

// The types picked up when raw printing is switched off.
inline constexpr std::string_view kQualifyingExtensions =
    ".BMP,.JPG,.JPEG,.GIF,.PNG,.TIF,.TIFF,.PDF";
// The dispatcher's lists, tried in this order; anything else is printed raw.
inline constexpr std::string_view kPdfExtensions = ".PDF";
inline constexpr std::string_view kBitmapExtensions = ".BMP,.JPG,.JPEG,.GIF,.TIF,.TIFF,.PNG";
inline constexpr std::string_view kTextExtensions = ".TXT,.LOG";

// The extension of the file name (or path) from its last point on, upper-cased, has at least
// two characters and occurs anywhere in `list`. A substring test on purpose: ".TI" qualifies
// because ".TIF" holds it. A point in a folder name is no extension.
bool ExtensionInList(std::string_view list, std::string_view fileName);

}  // namespace vellumora
