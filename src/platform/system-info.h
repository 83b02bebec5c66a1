// Who and where we run: the account name and the machine's name.
#pragma once

#include <string>

namespace vellumora {

// The name of the effective user, or its number when it has no name.
std::string UserName();
// The machine's host name, or empty.
std::string HostName();

}  // namespace vellumora
