// The sweep of an earlier run's leftovers when scanning first starts: unfinished uploads in
// the channels' input folders and PDF render folders in Temp/.
#include <set>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "platform/leftovers.h"

namespace vellumora {

namespace {

// Folders named in the log line at most; the rest are counted.
constexpr std::size_t kFoldersNamed = 3;

std::string Counted(int32_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// " (in A, B and 2 more folders)"
std::string Where(const std::vector<std::string>& folders) {
  std::string text = " (in ";
  for (std::size_t i = 0; i < folders.size() && i < kFoldersNamed; ++i) {
    if (i > 0) text += ", ";
    text += ReadableText(folders[i]);
  }
  if (folders.size() > kFoldersNamed)
    text += " and " + Counted(static_cast<int32_t>(folders.size() - kFoldersNamed), "more folder",
                              "more folders");
  return text + ")";
}

}  // namespace

void C_Kernel::SweepLeftovers() {
  // Only what a process older than this one left: whatever this process makes is newer.
  const int64_t before = ProcessStartTimeNs();

  // Each input folder once, however many channels share it.
  std::set<std::string> folders;
  for (int32_t i = 0; i < channelCount && i < static_cast<int32_t>(channels.size()); ++i) {
    std::string folder = ReadField(channels[i].sourceFolder);
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    if (!folder.empty()) folders.insert(folder);
  }
  int32_t uploads = 0;
  std::vector<std::string> uploadFolders;
  for (const std::string& folder : folders) {
    const int32_t n = RemoveUnfinishedIncomingFiles(folder, kUploadTempPrefix, before);
    if (n == 0) continue;
    uploads += n;
    uploadFolders.push_back(folder);
  }
  const std::string temp = dataDir.empty() ? std::string() : dataDir + "Temp";
  const int32_t renders = temp.empty() ? 0 : RemoveAbandonedPrivateFolders(temp, before);
  if (uploads == 0 && renders == 0) return;

  std::string line = "Removed ";
  if (uploads > 0)
    line += Counted(uploads, "unfinished upload", "unfinished uploads") + Where(uploadFolders);
  if (uploads > 0 && renders > 0) line += " and ";
  if (renders > 0)
    line += Counted(renders, "PDF render folder", "PDF render folders") + Where({temp});
  Log(line + " left by an earlier run");
}

}  // namespace vellumora
