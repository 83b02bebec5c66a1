// TestFolderAccess: proves that a folder exists and that we can create files in it.
#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "platform/folder-scan.h"

namespace vellumora {

namespace {
constexpr char kTestFileName[] = "/test2205.tmp";
}

int32_t C_Kernel::TestFolderAccess(const std::string& folder, bool quiet, FolderCheck* found) {
  // Reported without a trailing slash, except for the root folder itself.
  std::string display = folder;
  if (display.size() > 1 && display.back() == '/') display.pop_back();
  const std::string testFile = folder + kTestFileName;

  // The scan tests its folder every cycle: there the permission check stands in for the test
  // file where it is reliable, which keeps an idle scan nearly free. The report and the
  // setup dialog always create the file.
  FolderCheck check;
  if (quiet) {
    check = CheckInputFolder(display, testFile);
  } else if ((check.isDirectory = IsDirectory(display))) {
    check.canCreateFiles = CreateAndRemoveFile(display, testFile);
  }
  if (found) *found = check;
  if (!check.isDirectory) {
    Log("ERROR: Folder " + ReadableText(display) + " can't be found any more");
    return 0;
  }
  if (!check.canCreateFiles) {
    Log("ERROR: Access privilege to folder " + ReadableText(display) + " insufficient");
    return 1;
  }
  if (!quiet) Log("OK:    Full access to folder " + ReadableText(display) + " verified");
  return 2;
}

}  // namespace vellumora
