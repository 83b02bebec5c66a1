// A private temporary folder per test, removed afterwards unless the test failed.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vellumora::test {

// Creates ${TMPDIR:-/tmp}/vellumora-test.XXXXXX (mode 0755, so the print system's user can
// enter it). The destructor removes it, except when the running test has failed or Keep() was
// called: then it stays and its path is printed, so whatever the test left can be inspected.
class SandboxDir {
 public:
  SandboxDir();
  ~SandboxDir();
  SandboxDir(const SandboxDir&) = delete;
  SandboxDir& operator=(const SandboxDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Keeps the folder even when the test passes.
  void Keep() { keep_ = true; }

 private:
  std::filesystem::path path_;
  bool keep_ = false;
};

// While it lives, every write of this process past `bytes` in a file fails (EFBIG instead of
// SIGXFSZ), as on a full disk; the limit before it is restored afterwards.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(unsigned long long bytes);
  ~FileSizeLimit();
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  unsigned long long oldSoft_ = 0, oldHard_ = 0;
  void (*oldHandler_)(int) = nullptr;
};

// Whole-file helpers that fail the current test (non-fatally) when the file system refuses.
std::string ReadFileBytes(const std::filesystem::path& file);
void WriteFileBytes(const std::filesystem::path& file, std::string_view bytes);

}  // namespace vellumora::test
