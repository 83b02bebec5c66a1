// Where the program finds its folders on this machine.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vellumora {

// The machine-wide application-data folder (/var/lib, or $VELLUMORA_COMMON_APPDATA when set
// for tests and private installs). Empty when that folder does not exist.
std::optional<std::filesystem::path> CommonAppDataFolder();

// The process's current directory, or empty when it cannot be read.
std::string CurrentDirectory();

// The directory that holds the running executable, or empty when it cannot be read.
std::string ExecutableDirectory();
// The running executable's own path, or empty when it cannot be read.
std::string ExecutablePath();
// The folder of the program's shared files ("License.txt", the help text, the samples, the
// icon): "share/vellumora" in the executable's folder or one of its three parents, so that
// /usr/bin finds /usr/share/vellumora and a build tree its own copy. Ends in '/'; empty when
// none is found.
std::string ShareDirectory();

// Folder for run-time files such as the single-instance lock, one that nobody else may
// write to (in a folder anyone may write to, anyone could take the lock first and keep the
// program from starting): $XDG_RUNTIME_DIR when it is such a folder; otherwise /run/vellumora
// for root and /tmp/vellumora-UID for other users, created when missing. Empty, with the
// reason in *error, when that folder is not fit for it.
std::optional<std::filesystem::path> RuntimeFolder(std::string* error);

// Makes sure `folder` is a directory of the effective user that group and others cannot write
// to, creating it with `mode` when it is missing (its parent must exist). False, with the
// reason in *error, when it is a link, no directory, another user's, or writable by others.
bool EnsurePrivateFolder(const std::string& folder, unsigned mode, std::string* error);

// Shares the data folder `folder` with the members of `group`: the folder and its Temp folder
// are made when missing and get group-write and search (and the folder set-group-ID, so that
// files made in it keep the group), and each of `files` in it that is a regular file with a
// single link gets group-write. Only what is ours is changed: the folder when it belongs to
// us (as root: to root), the files when they belong to us or, as root, to root or the
// folder's owner. As root, objects root owns also get the group; without root no group is
// changed (a file of another group stays as it is), and no mode is written that is not
// needed. Links are not followed. False, with the reason in *error, when something could not
// be done.
bool ShareDataFolder(const std::string& folder, const std::string& group,
                     const std::vector<std::string>& files, std::string* error);

// As root, for the service's account (user number `uid`): makes the data folder `folder` (and its
// Temp folder) when missing and gives a root-owned one, and the root-owned regular files with a
// single link directly in it, to `uid` and `group` (folders 2775, files group-writable), so
// that the service, which may not change owners, can write them. What belongs to someone else
// is left alone. False, with the reason in *error.
bool GiveDataFolderTo(const std::string& folder, unsigned uid, const std::string& group,
                      std::string* error);

}  // namespace vellumora
