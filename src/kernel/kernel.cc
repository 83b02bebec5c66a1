// Kernel construction: settings defaults and the program and data directories.
#include "kernel/kernel.h"

#include <filesystem>
#include <system_error>

#include "platform/paths.h"

namespace vellumora {

std::atomic<int32_t> stopRequested{0};
std::atomic<int32_t> scanningActive{0};
std::atomic<int32_t> kernelIdle{1};
std::atomic<int32_t> quitRequested{0};
C_Kernel* gKernel = nullptr;

PrintChannel EmptyChannel() {
  // Value-initialisation zero-fills every field; the record has no padding.
  return PrintChannel{};
}

namespace {
std::string WithSlash(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  return dir;
}
}  // namespace

C_Kernel::C_Kernel(std::string appDirectory)
    : channels(1, EmptyChannel()), currentChannel(EmptyChannel()), printerDefaults(EmptyChannel()) {
  namespace fs = std::filesystem;
  appDir =
      appDirectory.empty() ? WithSlash(CurrentDirectory()) : WithSlash(std::move(appDirectory));

  if (auto common = CommonAppDataFolder()) {
    fs::path data = *common / "Vellumora";
    std::error_code ec;
    if (!fs::is_directory(data / "Temp", ec)) fs::create_directories(data / "Temp", ec);
    // The service and the desktops of the print administrators share the folder, its
    // settings files, the log and the ledger, whoever made them.
    ShareDataFolder(data.string(), kDataGroup,
                    {"Vellumora.ini", "Vellumora.vch", kClientNamesFile, kClientPinsFile,
                     kClientChannelsFile, "Vellumora.log", kLedgerFileName},
                    nullptr);
    dataDir = WithSlash(data.string());
  } else {
    dataDir = appDir;
  }
  ledger_ = PrintLedger(dataDir + kLedgerFileName);
  stopRequested = 0;
  scanningActive = 0;
}

C_Kernel::~C_Kernel() = default;

void C_Kernel::Log(std::string_view text, bool replaceLast) const {
  if (logCallback) logCallback(std::string(text), replaceLast);
}

}  // namespace vellumora
