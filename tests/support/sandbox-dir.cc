// A private temporary folder per test, removed afterwards unless the test failed.
#include "support/sandbox-dir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

namespace vellumora::test {

namespace fs = std::filesystem;

namespace {

std::string CurrentTestName() {
  const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
  if (info == nullptr) return "(outside any test)";
  return std::string(info->test_suite_name()) + "." + info->name();
}

}  // namespace

SandboxDir::SandboxDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vellumora-test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    // Nothing useful can happen in a test without its folder.
    std::cerr << "SandboxDir: mkdtemp(" << pattern << ") failed: " << std::strerror(errno) << "\n";
    std::abort();
  }
  chmod(pattern.c_str(), 0755);
  path_ = pattern;
}

SandboxDir::~SandboxDir() {
  if (keep_ || ::testing::Test::HasFailure()) {
    std::cerr << "[ sandbox  ] kept for inspection: " << path_.string() << " (" << CurrentTestName()
              << ")\n";
    return;
  }
  std::error_code ec;
  fs::remove_all(path_, ec);
  if (ec)
    std::cerr << "[ sandbox  ] could not remove " << path_.string() << ": " << ec.message() << "\n";
}

std::string ReadFileBytes(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    ADD_FAILURE() << "cannot open " << file;
    return {};
  }
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return std::move(bytes).str();
}

void WriteFileBytes(const fs::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) ADD_FAILURE() << "cannot write " << file;
}

FileSizeLimit::FileSizeLimit(unsigned long long bytes) {
  struct rlimit old {};
  getrlimit(RLIMIT_FSIZE, &old);
  oldSoft_ = old.rlim_cur;
  oldHard_ = old.rlim_max;
  oldHandler_ = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = bytes;
  setrlimit(RLIMIT_FSIZE, &small);
}

FileSizeLimit::~FileSizeLimit() {
  struct rlimit old {};
  old.rlim_cur = oldSoft_;
  old.rlim_max = oldHard_;
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, oldHandler_);
}

}  // namespace vellumora::test
