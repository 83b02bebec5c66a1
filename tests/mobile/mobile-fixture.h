// A kernel in a sandbox with two channel folders (showing on the screen) and the mobile server
// listening on loopback ports of its own, with time-outs short enough for tests.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "mobile/snq-server.h"
#include "mobile/wire-client.h"
#include "support/sandbox-dir.h"

namespace vellumora::test {

namespace fs = std::filesystem;

class MobileFixture : public ::testing::Test {
 protected:
  MobileFixture() {
    setenv("VELLUMORA_COMMON_APPDATA", sandbox.path().c_str(), 1);
    kernel = std::make_unique<C_Kernel>(sandbox.path().string());
    kernel->logCallback = [this](const std::string& text, bool) {
      std::lock_guard lock(logLock);
      log.push_back(text);
    };
    AddChannel(printerFolder);
    AddChannel(officeFolder);
    kernel->settings.Active = true;
    options.listenAddress = "127.0.0.1";
    options.ephemeralPorts = true;
    options.idleTimeoutMs = 1500;
    options.loginWindowMs = 60'000;
    options.pinLockoutMs = 800;
    options.listReloadMs = 50;
  }
  ~MobileFixture() override {
    if (server) server->Stop();
  }

  // The screen needs no print server: uploads are admitted into a channel that shows them.
  // The tests that print give their channels the private print server's queues.
  void AddChannel(const fs::path& folder, const std::string& printer = "SCREEN",
                  bool active = true) {
    fs::create_directories(folder);
    PrintChannel c = EmptyChannel();
    WriteField(c.sourceFolder, folder.string());
    WriteField(c.printerName, printer);
    c.active = active ? 1 : 0;
    c.freq = 1;
    c.copies = 1;
    std::lock_guard lock(kernel->registryLock);
    kernel->channels.insert(kernel->channels.begin() + kernel->channelCount, c);
    ++kernel->channelCount;
  }

  // Starts the server as the first settings load does and waits until it listens.
  void StartServer() {
    server = std::make_unique<THREAD_SNQserver>(*kernel, options);
    {
      std::lock_guard lock(kernel->registryLock);
      kernel->serverCommand = "ReadSettings";
    }
    server->Start();
    for (int i = 0; i < 300 && server->ListeningPortA() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_NE(server->ListeningPortA(), 0) << ::testing::PrintToString(Log());
    portA = server->ListeningPortA();
    portB = portA + 1;
  }

  // Switches the server as the registry's switch does.
  void Switch(bool on) {
    std::lock_guard lock(kernel->registryLock);
    kernel->settings.Active = on;
    kernel->serverCommand = "ReadSettings";
  }

  // A client that said hello as a new device and was accepted: its PIN.
  std::string RegisterAndAccept(WireClient& a, const std::string& name) {
    EXPECT_TRUE(a.Send("HelloVellumora " + name + "#??????"));
    EXPECT_EQ(a.Line(), "199 Please register through Vellumora");
    const int32_t row = server->registry().Find(name);
    EXPECT_GE(row, 0);
    EXPECT_TRUE(server->registry().IssueNewPin(row));
    kernel->SaveClientLists();
    const std::string data = a.Line();
    const std::string prefix = "201 NewUserData PIN=";
    EXPECT_EQ(data.rfind(prefix, 0), 0u) << data;
    EXPECT_EQ(a.Line().rfind("202 VL PrintChannel Names=", 0), 0u);
    return data.substr(prefix.size(), 6);
  }

  // Logs in on port A (registering first) and returns nothing; uploads from this address are
  // admitted afterwards.
  void LogIn(const std::string& name = "Phone", const std::string& channels = "1,2") {
    WireClient a(portA);
    const std::string pin = RegisterAndAccept(a, name);
    server->registry().SetChannels(server->registry().Find(name), channels);
    ASSERT_TRUE(a.Send("HelloVellumora " + name + "#" + pin));
    ASSERT_EQ(a.Line(), "201 Welcome back " + channels);
  }

  // Uploads one file on a new port-B connection; returns the server's last answer.
  std::string Upload(const std::string& channel, const std::string& name,
                     const std::string& bytes) {
    WireClient b(portB);
    b.Send("FileIsNext CH[" + channel + "] " + name);
    b.Send("FileSize " + std::to_string(bytes.size()));
    const std::string ok = b.Line();
    if (ok != "200 OK Waiting for file transfer ...") return ok;
    b.SendRaw(bytes);
    return b.Line();
  }

  std::vector<std::string> Log() {
    std::lock_guard lock(logLock);
    return log;
  }
  bool Logged(const std::string& prefix) {
    auto l = Log();
    return std::any_of(l.begin(), l.end(),
                       [&](const std::string& s) { return s.rfind(prefix, 0) == 0; });
  }

  // Every regular file in the sandbox that is neither in the data folder nor in a channel's
  // folder, and every hidden file in a channel's folder.
  std::vector<std::string> StrayFiles() {
    std::vector<std::string> stray;
    const fs::path data = sandbox.path() / "Vellumora";
    for (auto it = fs::recursive_directory_iterator(sandbox.path());
         it != fs::recursive_directory_iterator(); ++it) {
      if (!it->is_regular_file()) continue;
      const fs::path p = it->path();
      const std::string name = p.filename().string();
      if (p.parent_path() == data || p.parent_path() == data / "Temp") continue;
      if ((p.parent_path() == printerFolder || p.parent_path() == officeFolder) && name[0] != '.')
        continue;
      stray.push_back(p.string());
    }
    return stray;
  }
  std::vector<std::string> FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  SandboxDir sandbox;
  fs::path printerFolder = sandbox.path() / "in" / "Printer";
  fs::path officeFolder = sandbox.path() / "in" / "Office";
  std::unique_ptr<C_Kernel> kernel;
  SnqServerOptions options;
  std::unique_ptr<THREAD_SNQserver> server;
  int32_t portA = 0;
  int32_t portB = 0;
  std::mutex logLock;
  std::vector<std::string> log;
};

}  // namespace vellumora::test
