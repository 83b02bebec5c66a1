// New channel records, and the first start's default channels with their folders.
#include "kernel/default-channels.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/readable-text.h"
#include "kernel/text-fields.h"
#include "kernel/units.h"
#include "platform/account-access.h"
#include "platform/folder-scan.h"
#include "platform/paths.h"

namespace vellumora {

namespace {

namespace fs = std::filesystem;

constexpr char kFilesFolderName[] = "VellumoraFiles";
// Other programs drop their files into these folders; the service that takes them runs as
// root. Group members may write, others may look.
constexpr fs::perms kFolderMode =
    fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec;

// The path without a trailing separator, so that its last component is the folder's name.
fs::path FolderPath(const std::string& folder) {
  fs::path path = fs::path(folder).lexically_normal();
  if (!path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

std::string Joined(const std::string& folder, const char* name) {
  return (FolderPath(folder) / name).string();
}

// Appends `record` as a new last channel and saves. The line for the created channel is
// logged once the channel-definitions file holds it.
bool AppendChannel(C_Kernel& kernel, const PrintChannel& record, const std::string& target) {
  const int32_t number = kernel.channelCount + 1;
  const std::string folder = ReadableText(ReadField(record.sourceFolder));
  SpareChannelSlot(kernel) = record;
  const bool saved = kernel.SaveSettings(true);
  const std::string cause = kernel.dataDir.empty()
                                ? std::string("there is no data directory")
                                : "the settings cannot be written to " + kernel.dataDir;
  if (kernel.channelCount != number) {
    kernel.Log("ERROR Print channel " + std::to_string(number) + " not created: " + folder + " (" +
               cause + ")");
    return false;
  }
  kernel.Log("Print channel " + std::to_string(number) + " created: " + folder + " -> " + target);
  if (!saved) {
    // The channels were written, the settings file was not (SaveSettings logged why).
    kernel.Log("ERROR Print channel " + std::to_string(number) + " (" + folder + ") created, but " +
               cause);
    return false;
  }
  return true;
}

}  // namespace

// Makes `folder` with its parents. Every folder made here gets kFolderMode (the umask would
// take the group's write permission away); folders that existed keep theirs. The folder itself
// must be a real folder, never a symbolic link: one planted in its place could make the
// service print and delete the files of any folder it points to. False with the cause in
// *error.
bool MakeChannelFolder(const std::string& folder, std::string* error) {
  const fs::path path = FolderPath(folder);
  std::error_code ec;
  // The folders that do not exist yet, the innermost first.
  std::vector<fs::path> missing;
  for (fs::path p = path; !p.empty(); p = p.parent_path()) {
    if (fs::symlink_status(p, ec).type() != fs::file_type::not_found) break;
    missing.push_back(p);
    if (p == p.parent_path()) break;
  }
  fs::create_directories(path, ec);
  if (ec) {
    *error = ec.message();
    return false;
  }
  const fs::file_status status = fs::symlink_status(path, ec);
  if (fs::is_symlink(status)) {
    *error = "it is a symbolic link";
    return false;
  }
  if (!fs::is_directory(status)) {
    *error = ec ? ec.message() : "it is not a folder";
    return false;
  }
  for (const fs::path& made : missing) {
    // nofollow: a link that replaced the folder since it was made is refused, not followed.
    fs::permissions(made, kFolderMode, fs::perm_options::replace | fs::perm_options::nofollow, ec);
    if (ec) {
      *error = "its permissions cannot be set on " + made.string() + ": " + ec.message();
      return false;
    }
  }
  return true;
}

PrintChannel NewChannelRecord(const std::string& folder, const std::string& printer, int32_t freq) {
  PrintChannel c = EmptyChannel();
  WriteField(c.sourceFolder, folder);
  WriteField(c.printerName, printer);
  c.freq = freq;
  c.countdown = freq;
  c.copies = 1;
  c.deleteFile = 1;
  c.active = 1;
  c.notePosition = 'F';
  // Zero from EmptyChannel and meant so: no queue limit, no archive folder, no driver settings,
  // no borders.
  for (int day = 0; day < kScheduleDays; ++day) {
    std::memcpy(c.schedule[day], "00:00 00:00 ", kScheduleEntrySize);  // start = stop: all day
    c.dayActive[day] = 1;
  }
  return c;
}

void TakeMeasuredPage(PrintChannel& channel, const PageGeometry& page) {
  channel.geometry = page;
  channel.geometry.borderRect = page.paperRect;
  channel.dpiX = page.dpiX;
  channel.dpiY = page.dpiY;
  channel.widthMM = DotsToMm(page.paperRect.right - page.paperRect.left, page.dpiX);
  channel.heightMM = DotsToMm(page.paperRect.bottom - page.paperRect.top, page.dpiY);
}

PrintChannel& SpareChannelSlot(C_Kernel& kernel) {
  const std::size_t slot =
      static_cast<std::size_t>(kernel.channelCount < 0 ? 0 : kernel.channelCount);
  if (kernel.channels.size() <= slot) {
    // The mobile server's threads read the array beside us; growing it may move it.
    std::lock_guard lock(kernel.registryLock);
    kernel.channels.resize(slot + 1, EmptyChannel());
  }
  return kernel.channels[slot];
}

std::string DefaultFilesFolder(const std::string& preferredRoot, const std::string& home) {
  const std::string preferred = Joined(preferredRoot, kFilesFolderName);
  std::error_code ec;
  std::string ignored;
  if (fs::is_directory(preferred, ec)
          ? CanCreateFilesIn(preferred, preferred + "/.vellumora-access-test")
          : MakeChannelFolder(preferred, &ignored))
    return preferred;
  if (!home.empty()) return Joined(home, kFilesFolderName);
  if (const auto common = CommonAppDataFolder()) return Joined(common->string(), kFilesFolderName);
  return preferred;
}

std::string DefaultFilesFolder() {
  const char* home = std::getenv("HOME");
  return DefaultFilesFolder("/srv", home ? home : "");
}

bool GrantChannelFolder(C_Kernel& kernel, const std::string& folder, const std::string& account) {
  if (account.empty()) return false;
  const std::optional<AccountIds> ids = LookUpAccount(account, nullptr);
  if (!ids || ids->uid == 0) return false;  // root may use every folder as it is
  const GrantResult result = GrantFolder(*ids, folder);
  if (!result.granted && !result.notPermitted)
    kernel.Log("ERROR Folder " + ReadableText(folder) + " not given to the service's account " +
               account + ": " + result.error);
  return result.granted;
}

bool CreateFirstChannels(C_Kernel& kernel, const std::string& baseFolder,
                         const std::string& defaultPrinter, const std::string& serviceAccount) {
  if (kernel.channelCount >= 1) return true;
  const std::string screenFolder = Joined(baseFolder, "Screen");
  const std::string printerFolder = Joined(baseFolder, "Printer");
  // Both folders first: a folder that cannot be made leaves no channel behind, and the next
  // start offers the default channels again.
  for (const std::string& folder : {screenFolder, printerFolder}) {
    std::string error;
    if (!MakeChannelFolder(folder, &error)) {
      kernel.Log("ERROR Default print channel folder " + ReadableText(folder) +
                 " cannot be created: " + error);
      return false;
    }
  }
  for (const std::string& folder : {screenFolder, printerFolder})
    GrantChannelFolder(kernel, folder, serviceAccount);

  if (!AppendChannel(kernel, NewChannelRecord(screenFolder, "SCREEN", 1), "SCREEN")) return false;

  PrintChannel printer = NewChannelRecord(printerFolder, defaultPrinter, 10);
  if (defaultPrinter.empty()) {
    // Without a printer the channel could only fail; its folder is ready for when the operator
    // chooses one.
    printer.active = 0;
  } else if (defaultPrinter.rfind("SCREEN", 0) != 0 && kernel.readPrinterMetrics) {
    // Measured now, so that pictures that store their own size are drawn at the printer's
    // resolution. No borders: the picture area is the sheet. A printer that cannot be asked
    // now is measured when the channel first prints.
    if (const auto g = kernel.readPrinterMetrics(defaultPrinter)) {
      TakeMeasuredPage(printer, *g);
    }
  }
  if (!AppendChannel(kernel, printer,
                     defaultPrinter.empty() ? "(no printer)" : ReadableText(defaultPrinter)))
    return false;
  if (defaultPrinter.empty())
    kernel.Log(
        "Print channel 2 stays inactive: there is no default printer; choose its printer "
        "and activate it in the setup");
  return true;
}

}  // namespace vellumora
