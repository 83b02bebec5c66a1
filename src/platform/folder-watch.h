// Watching input folders for anything that happens in them, so that a folder found empty need
// not be listed again while nothing has happened in it.
#pragma once

#include <memory>
#include <string>

#include "platform/folder-scan.h"

namespace vellumora {

class FolderWatch {
 public:
  FolderWatch();
  ~FolderWatch();
  FolderWatch(const FolderWatch&) = delete;
  FolderWatch& operator=(const FolderWatch&) = delete;

  // Starts (or restarts) watching `folder`, whose CheckInputFolder answer is `check`, from
  // this moment: called before the folder is listed, so that nothing that happens after the
  // listing began goes unseen. False when the folder cannot be watched reliably (not a local
  // file system, no watch to be had): such a folder is never Quiet().
  bool Arm(const std::string& folder, const FolderCheck& check);

  // True only when `folder` is armed, still names the directory it named then (`identity`:
  // a folder whose parent was renamed and made anew is another directory), and since then
  // nothing was created, written, moved in or changed in its attributes, the folder itself
  // was neither removed nor moved, and no event was lost. Anything else (also a folder never
  // armed) is false and disarms it.
  bool Quiet(const std::string& folder, const FolderIdentity& identity);

  // No longer watches `folder`.
  void Forget(const std::string& folder);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace vellumora
