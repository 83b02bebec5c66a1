// What a run that ended abruptly (a crash, kill -9, a power cut) leaves in the folders it
// wrote to, and its removal by a later run. Only names exactly as this program makes them are
// touched, only files and folders older than this process, and links are never followed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vellumora {

// When this process started, in nanoseconds since the epoch, on the coarse clock the file
// systems stamp files with: whatever this process writes is stamped at or after it.
int64_t ProcessStartTimeNs();

// Removes from `folder` the incoming files (IncomingFile) that were never completed: regular
// files whose name is exactly one that IncomingFile::Create makes with `hiddenPrefix`, last
// written before `beforeNs`, and open in no process (a write lease proves it; where the file
// system cannot tell, the file stays). Returns how many were removed.
int32_t RemoveUnfinishedIncomingFiles(const std::string& folder, std::string_view hiddenPrefix,
                                      int64_t beforeNs);

// Removes from `folder` the private folders (MakePrivateFolder) left behind: real folders whose
// name is exactly one that MakePrivateFolder makes, last changed before `beforeNs`, together
// with the regular files in them. A folder that holds anything else (a link, a folder), a file
// written since `beforeNs` or open in a process, or too many entries to be a leftover, stays.
// Returns how many folders were removed.
int32_t RemoveAbandonedPrivateFolders(const std::string& folder, int64_t beforeNs);

}  // namespace vellumora
