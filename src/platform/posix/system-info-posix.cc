// Account and host names from the C library.
#include <pwd.h>
#include <unistd.h>

#include "platform/system-info.h"

namespace vellumora {

std::string UserName() {
  uid_t uid = geteuid();
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
  passwd pw{};
  passwd* found = nullptr;
  if (getpwuid_r(uid, &pw, buffer.data(), buffer.size(), &found) == 0 && found)
    return found->pw_name;
  return std::to_string(uid);
}

std::string HostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace vellumora
