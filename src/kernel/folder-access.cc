// TestFolderAccess: proves that a folder exists and that we can create files in it.
#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "platform/folder-scan.h"

namespace vellumora {

namespace {
constexpr char kTestFileName[] = "/test2205.tmp";
}

int32_t C_Kernel::TestFolderAccess(const std::string& folder, bool quiet) {
  // Reported without a trailing slash, except for the root folder itself.
  std::string display = folder;
  if (display.size() > 1 && display.back() == '/') display.pop_back();
  const std::string shown = ReadableText(display);

  if (!IsDirectory(display)) {
    Log("ERROR: Folder " + shown + " can't be found any more");
    return 0;
  }
  // The scan tests its folder every cycle: there the permission check stands in for the test
  // file where it is reliable, which keeps an idle scan nearly free. The report and the
  // setup dialog always create the file.
  const std::string testFile = folder + kTestFileName;
  if (!(quiet ? CanCreateFilesIn(display, testFile) : CreateAndRemoveFile(display, testFile))) {
    Log("ERROR: Access privilege to folder " + shown + " insufficient");
    return 1;
  }
  if (!quiet) Log("OK:    Full access to folder " + shown + " verified");
  return 2;
}

}  // namespace vellumora
