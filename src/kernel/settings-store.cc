// ReadSettings and SaveSettings: moving the settings, channel and client list files between
// dataDir and the kernel.
#include "kernel/channel-file.h"
#include "kernel/client-lists.h"
#include "kernel/ini-file.h"
#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/readable-text.h"
#include "platform/files.h"

namespace vellumora {

namespace {

constexpr const char* kIniFile = "Vellumora.ini";
constexpr const char* kChannelFile = "Vellumora.vch";
constexpr const char* kClientListFiles[3] = {kClientNamesFile, kClientPinsFile,
                                             kClientChannelsFile};
// Far more than any settings file or client list needs; the rest of a larger file is not read.
constexpr std::size_t kMaxTextFileSize = 16u << 20;

// The file's content; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  ReadRegularFile(path, &bytes, nullptr, kMaxTextFileSize);
  return bytes;
}

}  // namespace

int32_t C_Kernel::ReadSettings(bool onlyIfChanged) {
  int32_t result = 0;
  bool converted = false;
  if (dataDir.empty()) {
    Log("ERROR Application directory is not yet defined");
  } else {
    // The settings file.
    const std::string iniPath = dataDir + kIniFile;
    const int64_t iniAge = FileTimeNs(iniPath);
    if (!FileExists(iniPath)) {
      Log("ERROR Ini-file not found: " + iniPath);
    } else if (!onlyIfChanged || iniAge != iniFileAge) {
      std::string bytes, error;
      if (ReadRegularFile(iniPath, &bytes, &error, kMaxTextFileSize) != ReadStatus::kRead) {
        // Like a missing file: reported at every call, the settings keep their values.
        Log("ERROR Ini-file cannot be read: " + ReadableText(iniPath) + " (" + error + ")");
      } else {
        if (iniFileAge != 0) Log("Read updated ini-file data");
        iniFileAge = iniAge;
        settings = ParseIniSettings(bytes);
        if (log) log->maxLines = settings.MaxLogSize < 100 ? 100 : settings.MaxLogSize;
        result = 1;
      }
    }

    // The client lists, once per process, then the mobile server may start.
    if (!clientListsLoaded_) {
      std::vector<std::string>* lists[3] = {&clientNames, &clientPins, &clientChannels};
      for (int i = 0; i < 3; ++i) {
        const std::string path = dataDir + kClientListFiles[i];
        std::string bytes, error;
        const ReadStatus status = ReadRegularFile(path, &bytes, &error, kMaxTextFileSize);
        if (status == ReadStatus::kMissing) continue;
        if (status != ReadStatus::kRead) {
          Log("ERROR Client list cannot be read: " + ReadableText(path) + " (" + error + ")");
          continue;
        }
        ClientListFile file = ParseClientList(bytes);
        *lists[i] = std::move(file.entries);
        clientListEncodings_[i] = file.encoding;
      }
      clientStates.assign(clientNames.size(), std::string());
      clientListsLoaded_ = true;
      if (server) server->Start();
      serverCommand = "ReadSettings";
    }

    // The channel definitions.
    const std::string vchPath = dataDir + kChannelFile;
    const int64_t vchAge = FileTimeNs(vchPath);
    if (!onlyIfChanged || vchAge != channelFileAge) {
      if (channelFileAge != 0) Log("Read updated vch-file data");
      // A file that stays damaged is not read again until it changes.
      channelFileAge = vchAge;
      // The file must be openable for writing too; one without any write permission counts
      // as read-only even for root and loads nothing.
      std::string bytes, error;
      const ReadStatus status =
          IsReadOnlyFile(vchPath)
              ? ReadStatus::kNoAccess
              : ReadRegularFile(vchPath, &bytes, &error, kMaxChannelFileSize, true);
      if (status == ReadStatus::kRead) {
        ChannelFileContents contents = ReadChannelFile(bytes, readPrinterMetrics);
        bytes = std::string();
        if (contents.valid) {
          channelCount = contents.count;
          Log(std::to_string(channelCount) + " Print channel settings imported");
          channels = std::move(contents.channels);
          converted = contents.converted;
          if (converted) Log("VCH structure updated to version 603");
        } else {
          error = std::move(contents.error);
        }
      }
      if (status == ReadStatus::kMissing || status == ReadStatus::kNoAccess) {
        channelCount = 0;
        channels.clear();
      } else if (!error.empty()) {
        // A torn, truncated or foreign file: the channels loaded before go on printing.
        std::string kept;
        if (channelCount > 0)
          kept = "; the " + std::to_string(channelCount) + " channels loaded before stay in use";
        Log("ERROR No print channel settings imported from " + ReadableText(vchPath) + ": " +
            error + kept);
      }
      if (channels.empty()) channels.assign(1, EmptyChannel());
    }
  }
  if (!onlyIfChanged) InitialSystemCheck();
  return converted ? 2 : result;
}

bool C_Kernel::WriteSettingsFile(const std::string& name, const std::string& bytes) {
  std::string error;
  // Group-writable: the data directory is shared with the print administrators (group
  // lpadmin), whose desktop edits the files the service reloads.
  if (ReplaceFile(dataDir + name, bytes, &error, true, 0664)) return true;
  Log("ERROR Settings not saved, " + error);
  return false;
}

bool C_Kernel::SaveSettings(bool appendChannel) {
  if (dataDir.empty()) return false;

  SystemSettings values = settingsSource ? settingsSource->ValuesToSave() : settings;
  if (!settingsSource && log) values.MaxLogSize = log->maxLines;
  const std::string iniPath = dataDir + kIniFile;
  const bool iniSaved = WriteSettingsFile(
      kIniFile, IniSettingsBytes(ReadWholeFile(iniPath), values, appDir, dataDir));
  if (settingsSource) settingsSource->SettingsSaved();
  settings.DebugMode = values.DebugMode;

  // The channel definitions are written even when the settings file failed: each file is
  // replaced whole or not at all, so writing one never damages the other.
  const int32_t count = appendChannel ? channelCount + 1 : channelCount;
  const bool channelsSaved = WriteSettingsFile(kChannelFile, ChannelFileBytes(channels, count));
  if (channelsSaved) {
    channelCount = count;
    currentChannelIndex = -1;
    if (appendChannel) ReadSettings(true);
  }
  return iniSaved && channelsSaved;
}

bool C_Kernel::SaveClientLists() {
  if (dataDir.empty()) return false;
  const std::vector<std::string>* lists[3] = {&clientNames, &clientPins, &clientChannels};
  bool ok = true;
  for (int i = 0; i < 3; ++i)
    ok = WriteSettingsFile(kClientListFiles[i],
                           ClientListBytes(*lists[i], clientListEncodings_[i])) &&
         ok;
  return ok;
}

}  // namespace vellumora
