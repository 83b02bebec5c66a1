// What every output test starts from: a kernel whose data folder lies in the test's sandbox,
// the outputs on it, and the log lines it sent.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "support/sandbox-dir.h"

namespace vellumora::test {

class OutputsFixture : public ::testing::Test {
 protected:
  OutputsFixture() {
    setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
    kernel = std::make_unique<C_Kernel>(dir.path().string());
    kernel->logCallback = [this](const std::string& text, bool) { log.push_back(text); };
    outputs = std::make_unique<Outputs>(*kernel, watermark);
    kernel->output = outputs.get();
  }

  std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
  bool Logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  SandboxDir dir;
  std::unique_ptr<C_Kernel> kernel;
  WatermarkBitmap watermark;
  std::unique_ptr<Outputs> outputs;
  std::vector<std::string> log;
};

}  // namespace vellumora::test
