// What the system service will make of a hot folder: the account whose access matters, and
// the warnings an administrator needs while setting up a channel, each with its remedy.
#pragma once

#include <string>
#include <vector>

namespace vellumora {

class C_VAZService;

// The account a channel folder has to be usable by: when the service is installed, the Linux
// user it runs as (empty for root, which reaches every folder); otherwise the service's own
// account when this machine has it, else empty (nothing to check).
std::string FolderCheckAccount(const C_VAZService& service);

// The command that gives `folder` to `account`, ready to paste into a shell.
std::string GrantCommand(const std::string& folder, const std::string& account);

// Why the installed service never sees, or may never write, `folder`: its unit gives it a
// private /tmp and /var/tmp and a private /dev, and mounts /usr, /boot, /efi and /etc
// read-only. Empty when the folder lies elsewhere. Links in the path are resolved.
std::string SandboxedFolderReason(const std::string& folder);

// The private folder of the unit (/tmp, /var/tmp, /dev) below which `path` lies, so that the
// service never sees it; empty when it lies elsewhere.
std::string HiddenFromTheService(const std::string& path);

// The warnings for a channel on `folder`: one line for a folder the installed service cannot
// see (`serviceInstalled`), and one line when `account` (not empty) cannot reach it, naming
// the folder, the reason and the command that fixes it. Empty when all is well.
std::vector<std::string> ServiceFolderWarnings(const std::string& folder,
                                               const std::string& account, bool serviceInstalled);

}  // namespace vellumora
