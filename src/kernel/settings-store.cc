// ReadSettings and SaveSettings: moving the settings, channel and client list files between
// dataDir and the kernel.
#include <algorithm>
#include <chrono>

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
constexpr int64_t kClientListSettleNs = 1'000'000'000;

// The file's content; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path) {
  std::string bytes;
  ReadRegularFile(path, &bytes, nullptr, kMaxTextFileSize);
  return bytes;
}

// Client names compare without regard to ASCII case.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// Six decimal digits from 100000 to 999999: "???" asks for registration, "000000" declines.
bool IsLoginPin(const std::string& pin) {
  if (pin.size() != 6 || pin[0] < '1' || pin[0] > '9') return false;
  for (char c : pin)
    if (c < '0' || c > '9') return false;
  return true;
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
    const FileIdentity iniAge = IdentityOfPath(iniPath);
    if (!FileExists(iniPath)) {
      Log("ERROR Ini-file not found: " + iniPath);
    } else if (!onlyIfChanged || iniAge != iniFileAge) {
      std::string bytes, error;
      if (ReadRegularFile(iniPath, &bytes, &error, kMaxTextFileSize) != ReadStatus::kRead) {
        // Like a missing file: reported at every call, the settings keep their values.
        Log("ERROR Ini-file cannot be read: " + ReadableText(iniPath) + " (" + error + ")");
      } else {
        if (iniFileAge != FileIdentity{}) Log("Read updated ini-file data");
        iniFileAge = iniAge;
        SystemSettings loaded = ParseIniSettings(bytes);
        std::lock_guard lock(registryLock);
        // A switched server or a new port reaches a running server without a setup dialog
        // too (vellumora-setup server on|off writes the file).
        if (clientListsLoaded_ &&
            (loaded.Active != settings.Active || loaded.PortA != settings.PortA))
          serverCommand = "ReadSettings";
        settings = std::move(loaded);
        if (log) log->maxLines = settings.MaxLogSize < 100 ? 100 : settings.MaxLogSize;
        result = 1;
      }
    }

    // The client lists, once per process, then the mobile server may start.
    if (!clientListsLoaded_) {
      {
        std::lock_guard lock(registryLock);
        LoadClientListsLocked(false, nullptr);
        clientListsLoaded_ = true;
        serverCommand = "ReadSettings";
      }
      if (server) server->Start();
    }

    // The channel definitions.
    const std::string vchPath = dataDir + kChannelFile;
    const FileIdentity vchAge = IdentityOfPath(vchPath);
    if (!onlyIfChanged || vchAge != channelFileAge) {
      if (channelFileAge != FileIdentity{}) Log("Read updated vch-file data");
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
          {
            std::lock_guard lock(registryLock);
            channelCount = contents.count;
            channels = std::move(contents.channels);
          }
          Log(std::to_string(channelCount) + " Print channel settings imported");
          converted = contents.converted;
          if (converted) Log("VCH structure updated to version 603");
        } else {
          error = std::move(contents.error);
        }
      }
      std::lock_guard lock(registryLock);
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
    if (channels.size() <= static_cast<std::size_t>(count)) {
      // The next channel's slot, also when the reload above could not read the file back.
      std::lock_guard lock(registryLock);
      channels.resize(static_cast<std::size_t>(count) + 1, EmptyChannel());
    }
  }
  return iniSaved && channelsSaved;
}

bool C_Kernel::SaveClientLists() { return SaveClientListFiles(0, 3); }

bool C_Kernel::SaveClientChannels() { return SaveClientListFiles(2, 3); }

bool C_Kernel::SaveClientListFiles(int first, int end) {
  if (dataDir.empty()) return false;
  std::lock_guard lock(registryLock);
  const std::vector<std::string>* lists[3] = {&clientNames, &clientPins, &clientChannels};
  bool ok = true;
  for (int i = first; i < end; ++i) {
    ok = WriteSettingsFile(kClientListFiles[i],
                           ClientListBytes(*lists[i], clientListEncodings_[i])) &&
         ok;
    // What this process wrote is not news to it.
    clientListAges_[i] = FileTimeNs(dataDir + kClientListFiles[i]);
  }
  return ok;
}

void C_Kernel::LoadClientListsLocked(bool onlyIfChanged, std::vector<int32_t>* accepted) {
  int64_t ages[3];
  bool changed = false;
  for (int i = 0; i < 3; ++i) {
    ages[i] = FileTimeNs(dataDir + kClientListFiles[i]);
    changed = changed || ages[i] != clientListAges_[i];
  }
  if (onlyIfChanged) {
    if (!changed) return;
    // Another program writes the three files one after the other: take them only once the
    // newest is a second old, so that they belong together.
    const int64_t newest = std::max({ages[0], ages[1], ages[2]});
    const int64_t nowNs = std::chrono::duration_cast<std::chrono::nanoseconds>(
                              std::chrono::system_clock::now().time_since_epoch())
                              .count();
    if (nowNs - newest < kClientListSettleNs) return;
  }
  std::vector<std::string> loaded[3];
  for (int i = 0; i < 3; ++i) {
    const std::string path = dataDir + kClientListFiles[i];
    std::string bytes, error;
    const ReadStatus status = ReadRegularFile(path, &bytes, &error, kMaxTextFileSize);
    if (status == ReadStatus::kMissing) continue;
    if (status != ReadStatus::kRead) {
      Log("ERROR Client list cannot be read: " + ReadableText(path) + " (" + error + ")");
      // A reload keeps the registry it has rather than half of one.
      if (onlyIfChanged) return;
      continue;
    }
    ClientListFile file = ParseClientList(bytes);
    loaded[i] = std::move(file.entries);
    clientListEncodings_[i] = file.encoding;
  }
  // The lists stay index-aligned whatever the files hold: every client has all three entries.
  const std::size_t count = loaded[0].size();
  loaded[1].resize(count);
  loaded[2].resize(count);
  std::vector<std::string> states(count);
  for (std::size_t i = 0; i < count; ++i) {
    // A client keeps the address it last said hello from; a PIN that changed into a login PIN
    // was issued by another program, so this one sends it.
    std::size_t before = 0;
    while (before < clientNames.size() && !SameName(clientNames[before], loaded[0][i])) ++before;
    if (before < clientNames.size()) {
      if (before < clientStates.size()) states[i] = clientStates[before];
      const bool newPin =
          before >= clientPins.size() || clientPins[before] != loaded[1][i];
      if (accepted && newPin && IsLoginPin(loaded[1][i]))
        accepted->push_back(static_cast<int32_t>(i));
    }
  }
  for (int i = 0; i < 3; ++i) clientListAges_[i] = ages[i];
  clientNames = std::move(loaded[0]);
  clientPins = std::move(loaded[1]);
  clientChannels = std::move(loaded[2]);
  clientStates = std::move(states);
}

std::vector<int32_t> C_Kernel::ReloadClientLists() {
  std::vector<int32_t> accepted;
  if (dataDir.empty()) return accepted;
  std::lock_guard lock(registryLock);
  LoadClientListsLocked(true, &accepted);
  return accepted;
}

}  // namespace vellumora
