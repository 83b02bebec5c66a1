// The name an archived file takes when its own name is taken in the archive folder.
#pragma once

#include <cstddef>
#include <string>

namespace vellumora {

// The longest file name the file systems we archive to accept, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// prefix + name, at most kMaxFileNameBytes long: when it would be longer, the end of the name's
// stem is cut away and its extension (from the last dot, unless the name starts with it) is
// kept. A cut never splits a UTF-8 sequence. Should prefix and extension alone be too long,
// the whole result is cut to the limit the same way.
std::string ArchiveClashName(const std::string& prefix, const std::string& name);

}  // namespace vellumora
