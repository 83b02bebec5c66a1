// What every output test starts from: a kernel whose data folder lies in the test's sandbox,
// the outputs on it, and the log lines it sent.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "output/outputs.h"
#include "output/watermark-bitmap.h"
#include "platform/files.h"
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

  // A job for the file at `path` as the dispatcher hands it over: opened once, read only
  // through its descriptor, on the current channel. The jobs it creates are kept in `created`.
  OutputJob Job(const std::string& path, const std::string& printer, int32_t copies) {
    files.emplace_back(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    OutputJob job;
    job.fd = files.back().get();
    job.path = path;
    job.name = path.substr(path.find_last_of('/') + 1);
    job.channel = &kernel->currentChannel;
    job.printerName = printer;
    job.copies = copies;
    job.log = [this](const std::string& line) { log.push_back(line); };
    job.stopRequested = [] { return stopRequested.load() != 0; };
    job.jobCreated = [this](const std::string&, int32_t id, int32_t) {
      created.push_back(id);
      return true;
    };
    return job;
  }
  bool Logged(const std::string& line) const {
    return std::find(log.begin(), log.end(), line) != log.end();
  }

  SandboxDir dir;
  std::unique_ptr<C_Kernel> kernel;
  WatermarkBitmap watermark;
  std::unique_ptr<Outputs> outputs;
  std::vector<std::string> log;
  std::vector<FileHandle> files;
  std::vector<int32_t> created;  // print server jobs the outputs announced
};

}  // namespace vellumora::test
