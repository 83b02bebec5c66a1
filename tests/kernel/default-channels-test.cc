// The first start's default channels: their folders, what another kernel reads back, failures.
#include "kernel/default-channels.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"
#include "support/test-account.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

class DefaultChannelsTest : public ::testing::Test {
 protected:
  DefaultChannelsTest() {
    setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
    kernel = std::make_unique<C_Kernel>();
    kernel->logCallback = [this](const std::string& text, bool) { messages.push_back(text); };
  }
  ~DefaultChannelsTest() override { unsetenv("VELLUMORA_COMMON_APPDATA"); }

  // What another process finds in the data directory.
  std::unique_ptr<C_Kernel> Reloaded() const {
    auto fresh = std::make_unique<C_Kernel>();
    fresh->ReadSettings(false);
    return fresh;
  }
  bool Logged(const std::string& line) const {
    for (const auto& m : messages)
      if (m == line) return true;
    return false;
  }
  std::string ErrorLines() const {
    std::string errors;
    for (const auto& m : messages)
      if (m.rfind("ERROR", 0) == 0) errors += m + "\n";
    return errors;
  }
  static fs::perms Mode(const fs::path& p) {
    return fs::symlink_status(p).permissions() & fs::perms::mask;
  }

  test::SandboxDir dir;
  fs::path base = dir.path() / "files" / "VellumoraFiles";
  std::unique_ptr<C_Kernel> kernel;
  std::vector<std::string> messages;
};

constexpr fs::perms k0775 =
    fs::perms::owner_all | fs::perms::group_all | fs::perms::others_read | fs::perms::others_exec;

TEST_F(DefaultChannelsTest, TwoChannelsAreSavedAndReadBackByAnotherKernel) {
  std::vector<std::string> asked;
  kernel->readPrinterMetrics = [&](const std::string& printer) -> std::optional<PageGeometry> {
    asked.push_back(printer);
    PageGeometry g;
    g.dpiX = 600;
    g.dpiY = 300;
    g.paperRect = {0, 0, 4960, 3508};
    g.printRect = {100, 50, 4860, 3458};
    return g;
  };
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), "office"));
  EXPECT_EQ(ErrorLines(), "");
  EXPECT_EQ(asked, std::vector<std::string>{"office"});  // the screen has no page to measure
  EXPECT_TRUE(Logged("Print channel 1 created: " + (base / "Screen").string() + " -> SCREEN"));
  EXPECT_TRUE(Logged("Print channel 2 created: " + (base / "Printer").string() + " -> office"));
  EXPECT_EQ(kernel->channels.size(), 3u);  // a spare slot for the next channel

  // Every folder made here may be written by the group.
  for (const fs::path& p : {base.parent_path(), base, base / "Screen", base / "Printer"}) {
    EXPECT_TRUE(fs::is_directory(p)) << p;
    EXPECT_EQ(Mode(p), k0775) << p;
  }

  auto fresh = Reloaded();
  ASSERT_EQ(fresh->channelCount, 2);
  const PrintChannel& screen = fresh->channels[0];
  const PrintChannel& printer = fresh->channels[1];
  EXPECT_EQ(ReadField(screen.sourceFolder), (base / "Screen").string());
  EXPECT_EQ(ReadField(screen.printerName), "SCREEN");
  EXPECT_EQ(screen.freq, 1);
  EXPECT_EQ(screen.active, 1);
  EXPECT_EQ(screen.geometry.paperRect.right, 0);
  EXPECT_EQ(ReadField(printer.sourceFolder), (base / "Printer").string());
  EXPECT_EQ(ReadField(printer.printerName), "office");
  EXPECT_EQ(printer.freq, 10);
  EXPECT_EQ(printer.active, 1);
  EXPECT_EQ(printer.dpiX, 600);
  EXPECT_EQ(printer.dpiY, 300);
  EXPECT_EQ(printer.geometry.printRect.left, 100);
  EXPECT_EQ(printer.geometry.borderRect.right, 4960);  // no borders: the whole sheet
  EXPECT_EQ(printer.geometry.borderRect.bottom, 3508);
}

TEST_F(DefaultChannelsTest, WithoutADefaultPrinterTheSecondChannelWaitsInactive) {
  bool asked = false;
  kernel->readPrinterMetrics = [&](const std::string&) -> std::optional<PageGeometry> {
    asked = true;
    return std::nullopt;
  };
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), ""));
  EXPECT_FALSE(asked);
  EXPECT_TRUE(
      Logged("Print channel 2 created: " + (base / "Printer").string() + " -> (no printer)"));

  auto fresh = Reloaded();
  ASSERT_EQ(fresh->channelCount, 2);
  EXPECT_EQ(fresh->channels[0].active, 1);
  EXPECT_EQ(ReadField(fresh->channels[1].printerName), "");
  EXPECT_EQ(fresh->channels[1].active, 0);
  EXPECT_TRUE(fs::is_directory(base / "Printer"));
}

TEST_F(DefaultChannelsTest, BothFoldersAreGivenToTheServiceAccount) {
  test::TestAccount account;
  if (!account.usable()) GTEST_SKIP() << account.skipReason();
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), "office", account.name()));
  EXPECT_EQ(ErrorLines(), "");
  for (const char* name : {"Screen", "Printer"}) EXPECT_TRUE(account.CanUseFolder(base / name));
  EXPECT_FALSE(account.CanUseFolder(base));  // only the channels' folders
}

TEST_F(DefaultChannelsTest, AnAccountThisMachineLacksIsPassedOverQuietly) {
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), "office", "vlm-no-such-account"));
  EXPECT_EQ(ErrorLines(), "");
  EXPECT_EQ(Reloaded()->channelCount, 2);
}

TEST_F(DefaultChannelsTest, NothingIsCreatedOnceAChannelExists) {
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), "office"));
  messages.clear();
  const fs::path other = dir.path() / "other";
  EXPECT_TRUE(CreateFirstChannels(*kernel, other.string(), "lab"));
  EXPECT_TRUE(messages.empty());
  EXPECT_FALSE(fs::exists(other));
  EXPECT_EQ(Reloaded()->channelCount, 2);
}

// A second save within the same file time stamp skips the reload that gives the array its
// spare slot again; the next channel must still go after the last one, not over it.
TEST_F(DefaultChannelsTest, ASkippedReloadDoesNotLetChannelTwoReplaceChannelOne) {
  kernel->readPrinterMetrics = [&](const std::string&) -> std::optional<PageGeometry> {
    kernel->channels.resize(static_cast<std::size_t>(kernel->channelCount));  // channel 1 saved
    return std::nullopt;
  };
  ASSERT_TRUE(CreateFirstChannels(*kernel, base.string(), "office"));
  auto fresh = Reloaded();
  ASSERT_EQ(fresh->channelCount, 2);
  EXPECT_EQ(ReadField(fresh->channels[0].printerName), "SCREEN");
  EXPECT_EQ(ReadField(fresh->channels[1].printerName), "office");
}

// A folder that cannot be made, or a link in place of one, saves no channel at all, and the
// folder a planted link points to is left as it was.
TEST_F(DefaultChannelsTest, AFolderThatCannotBeMadeSavesNoChannel) {
  struct Case {
    const char* what;
    const char* plantedLink;  // under the base folder, pointing at dir/elsewhere
    const char* failedFolder;
    const char* cause;
  };
  const Case cases[] = {
      {"base under a file", nullptr, "Screen", "Not a directory"},
      {"link as Screen", "Screen", "Screen", "it is a symbolic link"},
      {"link as Printer", "Printer", "Printer", "it is a symbolic link"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::SandboxDir sandbox;
    messages.clear();
    fs::path root = sandbox.path() / "files";
    const fs::path elsewhere = sandbox.path() / "elsewhere";
    fs::create_directory(elsewhere);
    fs::permissions(elsewhere, fs::perms::owner_all);
    if (c.plantedLink) {
      fs::create_directories(root);
      fs::create_directory_symlink(elsewhere, root / c.plantedLink);
    } else {
      test::WriteFileBytes(sandbox.path() / "file", "");
      root = sandbox.path() / "file" / "files";
    }

    EXPECT_FALSE(CreateFirstChannels(*kernel, root.string(), "office"));
    EXPECT_EQ(ErrorLines(), "ERROR Default print channel folder " +
                                (root / c.failedFolder).string() +
                                " cannot be created: " + c.cause + "\n");
    EXPECT_EQ(kernel->channelCount, 0);
    EXPECT_EQ(Reloaded()->channelCount, 0);
    EXPECT_EQ(Mode(elsewhere), fs::perms::owner_all);
  }
}

// The file size limit lets the first channel's definitions through and stops the second's:
// channel 1 stays saved, channel 2 is reported as not created.
TEST_F(DefaultChannelsTest, AFailedSaveKeepsTheChannelSavedBefore) {
  bool created;
  {
    test::FileSizeLimit limit(64 * 1024);
    created = CreateFirstChannels(*kernel, base.string(), "office");
  }

  EXPECT_FALSE(created);
  const std::string errors = ErrorLines();
  EXPECT_NE(errors.find("ERROR Print channel 2 not created: " + (base / "Printer").string() +
                        " (the settings cannot be written to " + kernel->dataDir + ")"),
            std::string::npos)
      << errors;
  auto fresh = Reloaded();
  ASSERT_EQ(fresh->channelCount, 1);
  EXPECT_EQ(ReadField(fresh->channels[0].printerName), "SCREEN");
}

TEST_F(DefaultChannelsTest, DefaultFilesFolderPrefersTheMachineWideFolder) {
  const fs::path home = dir.path() / "home";
  // Made with its parents when missing, group-writable.
  const fs::path preferred = dir.path() / "srv";
  EXPECT_EQ(DefaultFilesFolder(preferred.string(), home.string()),
            (preferred / "VellumoraFiles").string());
  EXPECT_EQ(Mode(preferred / "VellumoraFiles"), k0775);
  // Found again once it exists.
  EXPECT_EQ(DefaultFilesFolder(preferred.string() + "/", home.string()),
            (preferred / "VellumoraFiles").string());

  // Not possible: the home folder's, which is not made here.
  test::WriteFileBytes(dir.path() / "file", "");
  const fs::path impossible = dir.path() / "file" / "srv";
  EXPECT_EQ(DefaultFilesFolder(impossible.string(), home.string()),
            (home / "VellumoraFiles").string());
  EXPECT_FALSE(fs::exists(home));
  // Without a home folder: beside the data directory.
  EXPECT_EQ(DefaultFilesFolder(impossible.string(), ""), (dir.path() / "VellumoraFiles").string());
}

}  // namespace
}  // namespace vellumora
