// ExtensionInList: the file-type test by extension.
#include "kernel/extension-list.h"

#include <string>

namespace vellumora {

bool ExtensionInList(std::string_view list, std::string_view fileName) {
  auto slash = fileName.find_last_of('/');
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  auto dot = fileName.find_last_of('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(fileName.substr(dot));
  if (ext.size() < 2) return false;
  // ASCII upper case only: the lists are ASCII, and bytes of other letters must stay as they
  // are (a name need not even be valid UTF-8).
  for (char& c : ext)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return list.find(ext) != std::string_view::npos;
}

}  // namespace vellumora
