// Getting rid of an input file once it was output: moving it into an archive folder or
// deleting it, and closing the handle an output left open.
#pragma once

#include <string>

namespace vellumora {

// Moves `source` to `target`, replacing a file of that name. Within one file system this is a
// rename. Across file systems the data is copied to a temporary file beside the target (with
// the source's permissions and time stamps), flushed to disk and renamed into place, and only
// then is the source removed, so a failure at any point never loses the file. The folders are
// flushed too (write-through). False, with the cause in *error, when the source is still there.
bool MoveFileReplacing(const std::string& source, const std::string& target, std::string* error);

enum class MoveResult { kMoved, kTargetExists, kFailed };

// Moves `source` to `target` without ever replacing anything: kTargetExists, with the source
// untouched, when a file (or anything else) of that name exists or appears meanwhile. Within
// one file system this is one atomic rename that refuses an existing target. Across file
// systems the data is copied to a temporary file beside the target (with the source's
// permissions and time stamps) and flushed, the final name is created from it without
// replacing, and only then is the source removed; should the source refuse to go, the copy is
// taken back, so the file is never lost and never in both places. The folders are flushed too.
// kFailed, with the cause in *error, when the source is still there for another reason.
MoveResult MoveFileNoReplace(const std::string& source, const std::string& target,
                             std::string* error);

// Deletes the file. True when it is gone afterwards, also when it was not there any more.
bool RemoveFile(const std::string& path);

// True when any directory entry of that name exists (also a dangling link).
bool PathExists(const std::string& path);

// Closes a file handle (a descriptor) that an output left open.
void CloseFileHandle(int handle);

}  // namespace vellumora
