// Loading and saving the settings, channel-definitions and client list files. The files of
// older formats are built here byte by byte from the record layout, not by our own writer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "kernel/kernel.h"
#include "kernel/klog.h"
#include "kernel/text-fields.h"
#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

// A raw record of the given size with little-endian fields poked in at their offsets.
struct RawRecord {
  std::string bytes;
  explicit RawRecord(std::size_t size) : bytes(size, '\0') {}
  RawRecord& I32(std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i)
      bytes[at + i] = static_cast<char>((static_cast<uint32_t>(v) >> (8 * i)) & 0xFF);
    return *this;
  }
  RawRecord& Wide(std::size_t at, std::u16string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
      bytes[at + 2 * i] = static_cast<char>(text[i] & 0xFF);
      bytes[at + 2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return *this;
  }
  RawRecord& Narrow(std::size_t at, std::string_view text) {
    bytes.replace(at, text.size(), text);
    return *this;
  }
};

constexpr std::size_t kOldRecord = 18428;
constexpr std::size_t kNewRecord = 53244;
// Offsets in the record.
constexpr std::size_t oPrinterName = 1152, oCopies = 1664, oMarginMM = 1676, oDpiX = 1688,
                      oDpiY = 1692, oWidthMM = 1696, oHeightMM = 1700, oLegacyStart = 1704,
                      oLegacyStop = 1710, oFixedPaper = 1725, oDynPaper = 1726, oSchedule = 1868,
                      oDriverSize = 2040, oDriverData = 2044;

std::string Header(const std::string& version, const std::string& count) {
  std::string h =
      "Vellumora    Print-Channel-Definitions Version=" + version + " Channels=" + count + " DATA";
  return h;
}

class SettingsStoreTest : public ::testing::Test {
 protected:
  SettingsStoreTest() {
    setenv("VELLUMORA_COMMON_APPDATA", dir.path().c_str(), 1);
    kernel = std::make_unique<C_Kernel>();
    // The start-up report that ReadSettings(false) ends with (three separator lines) is
    // checked elsewhere; keep the messages of the settings store itself.
    kernel->logCallback = [this](const std::string& text, bool) {
      if (text == std::string(110, '-')) {
        separators = (separators + 1) % 3;
        return;
      }
      if (separators == 0) messages.push_back(text);
    };
    kernel->log = &log;
  }
  fs::path Data(const char* name) const { return fs::path(kernel->dataDir) / name; }
  void WriteIni(const std::string& text) { test::WriteFileBytes(Data("Vellumora.ini"), text); }

  test::SandboxDir dir;
  C_KLog log{(dir.path() / "test.log").string()};
  std::unique_ptr<C_Kernel> kernel;
  std::vector<std::string> messages;
  int separators = 0;
};

TEST_F(SettingsStoreTest, LegacyRecordsAreUpgradedStepByStep) {
  WriteIni("");
  RawRecord v408(kOldRecord);
  v408.Narrow(oLegacyStart, "8")
      .Narrow(oLegacyStop, "17")
      .I32(oMarginMM, 119)
      .I32(oDpiX, 600)
      .I32(oDpiY, 600)
      .I32(oWidthMM, 210)
      .I32(oHeightMM, 297)
      .Narrow(oFixedPaper, "\x01\x01");
  RawRecord v504a(kOldRecord), v504b(kOldRecord);
  v504a.I32(oMarginMM, 118).I32(oDpiX, 600);
  v504b.I32(oMarginMM, 4000).I32(oDpiX, 0);
  test::WriteFileBytes(Data("Vellumora.vch"), Header("408", "0001") + v408.bytes);
  EXPECT_EQ(kernel->ReadSettings(false), 2);

  const PrintChannel& c = kernel->channels[0];
  for (int day = 0; day < 7; ++day) {
    EXPECT_EQ(std::string(c.schedule[day], 12), "08:00 17:00 ") << day;
    EXPECT_EQ(c.dayActive[day], 1) << day;
  }
  EXPECT_EQ(c.marginMM, 5);  // 119 dots at 600 dpi: (119·254+5)/6000
  EXPECT_EQ(c.fixedPaperSize, 0);
  EXPECT_EQ(c.dynPaperLength, 0);
  EXPECT_EQ(c.setOrientation, 1);
  EXPECT_EQ(c.geometry.dpiX, 600);
  EXPECT_EQ(c.geometry.paperRect.right, 4960);   // 210 mm at 600 dpi
  EXPECT_EQ(c.geometry.paperRect.bottom, 7015);  // 297 mm
  EXPECT_EQ(c.geometry.borderRect.left, 118);    // 5 mm
  EXPECT_EQ(c.geometry.borderRect.right, 4960 - 118);
  EXPECT_EQ(messages, (std::vector<std::string>{"1 Print channel settings imported",
                                                "VCH structure updated to version 603"}));

  test::WriteFileBytes(Data("Vellumora.vch"), Header("504", "0002") + v504a.bytes + v504b.bytes);
  EXPECT_EQ(kernel->ReadSettings(false), 2);
  EXPECT_EQ(kernel->channels[0].marginMM, 4);
  EXPECT_EQ(kernel->channels[1].marginMM, 5);  // no resolution
  EXPECT_EQ(kernel->channels.size(), 3u);      // two channels and the spare slot
}

TEST_F(SettingsStoreTest, Format601BorderBelowThePhysicalOffsetBecomes600Dots) {
  WriteIni("");
  kernel->readPrinterMetrics = [](const std::string& printer) -> std::optional<PageGeometry> {
    if (printer != "Office") return std::nullopt;  // this one cannot be asked
    PageGeometry g;
    g.printRect = {150, 120, 4810, 6895};
    return g;
  };
  RawRecord measured(kOldRecord), unmeasured(kOldRecord), wide(kOldRecord);
  measured.Wide(oPrinterName, u"Office")
      .I32(oMarginMM, 5)
      .I32(oDpiX, 600)
      .I32(oDpiY, 600)
      .I32(oWidthMM, 210)
      .I32(oHeightMM, 297);
  unmeasured.Wide(oPrinterName, u"Gone")
      .I32(oMarginMM, 5)
      .I32(oDpiX, 600)
      .I32(oDpiY, 600)
      .I32(oWidthMM, 210)
      .I32(oHeightMM, 297);
  wide.Wide(oPrinterName, u"Gone")
      .I32(oMarginMM, 10)
      .I32(oDpiX, 600)
      .I32(oDpiY, 600)
      .I32(oWidthMM, 210)
      .I32(oHeightMM, 297);
  test::WriteFileBytes(Data("Vellumora.vch"),
                       Header("601", "0003") + measured.bytes + unmeasured.bytes + wide.bytes);
  EXPECT_EQ(kernel->ReadSettings(false), 2);

  const PageGeometry& g = kernel->channels[0].geometry;
  EXPECT_EQ(g.printRect.left, 150);
  EXPECT_EQ(g.printRect.top, 120);
  EXPECT_EQ(g.printRect.right, 4960 - 150);
  EXPECT_EQ(g.borderRect.left, 600);  // 5 mm = 118 dots, inside the 150-dot offset
  // A printer that cannot be asked keeps the offsets measured last in this load.
  EXPECT_EQ(kernel->channels[1].geometry.printRect.left, 150);
  EXPECT_EQ(kernel->channels[1].geometry.borderRect.top, 600);
  EXPECT_EQ(kernel->channels[2].geometry.borderRect.top, 236);  // 10 mm clears the offsets
}

TEST_F(SettingsStoreTest, Format602KeepsItsDataAndCountsAsConverted) {
  WriteIni("");
  RawRecord r(kOldRecord);
  r.I32(oCopies, 3)
      .I32(oDriverSize, 16384)
      .Narrow(oDriverData, "DRV")
      .Narrow(oDriverData + 16383, "Z");
  test::WriteFileBytes(Data("Vellumora.vch"), Header("602", "0001") + r.bytes);
  EXPECT_EQ(kernel->ReadSettings(false), 2);
  const PrintChannel& c = kernel->channels[0];
  EXPECT_EQ(c.copies, 3);
  EXPECT_EQ(c.driverData[16383], 'Z');
  EXPECT_EQ(c.driverData[16384], 0);
  EXPECT_EQ(std::memcmp(c.driverData, "DRV", 3), 0);
}

// Every file written over the loaded one gets a time stamp of its own, however fast the
// test runs: the file system's clock may not move between two writes.
void WriteStamped(const fs::path& file, const std::string& bytes, int step) {
  test::WriteFileBytes(file, bytes);
  std::error_code ec;
  fs::last_write_time(file, fs::file_time_type::clock::now() + std::chrono::seconds(step), ec);
  ASSERT_FALSE(ec) << ec.message();
}

TEST_F(SettingsStoreTest, DamagedFileKeepsTheChannelsLoadedLastUntilItIsRepaired) {
  WriteIni("");
  RawRecord a(kNewRecord), b(kNewRecord);
  a.I32(oCopies, 2);
  b.I32(oCopies, 3);
  const std::string good = Header("603", "0002") + a.bytes + b.bytes;
  WriteStamped(Data("Vellumora.vch"), good, 1);
  kernel->ReadSettings(false);
  ASSERT_EQ(kernel->channelCount, 2);

  struct Case {
    const char* what;
    std::string file;
    const char* reason;
  };
  std::string garbage(5000, '\0');
  for (std::size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>(i * 131 + 7);
  const Case cases[] = {
      {"cut to 100 bytes", good.substr(0, 100),
       "the file holds 0 of the 2 records its header announces (100 bytes)"},
      {"cut inside the second record", good.substr(0, 69 + kNewRecord + 10),
       "the file holds 1 of the 2 records its header announces (53323 bytes)"},
      {"header alone promising 9999", Header("603", "9999"),
       "the file holds 0 of the 9999 records its header announces (69 bytes)"},
      {"garbage", garbage, "unknown format version 0"},
      {"empty", "", "the file is empty"},
      {"half a header", good.substr(0, 40), "the header is incomplete (40 of 69 bytes)"},
      {"unknown version", Header("605", "0001") + a.bytes, "unknown format version 605"},
      {"negative count", Header("603", "-001") + a.bytes, "negative channel count -1"},
      // Old records are shorter, but not this short.
      {"old format cut short", Header("601", "0002") + std::string(kOldRecord + 5, '\0'),
       "the file holds 1 of the 2 records its header announces (18502 bytes)"},
  };
  int step = 2;
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    WriteStamped(Data("Vellumora.vch"), tc.file, step++);
    messages.clear();
    kernel->ReadSettings(true);
    EXPECT_EQ(kernel->channelCount, 2);
    ASSERT_EQ(kernel->channels.size(), 3u);
    EXPECT_EQ(kernel->channels[0].copies, 2);
    EXPECT_EQ(kernel->channels[1].copies, 3);
    EXPECT_EQ(messages,
              (std::vector<std::string>{"Read updated vch-file data",
                                        "ERROR No print channel settings imported from " +
                                            Data("Vellumora.vch").string() + ": " + tc.reason +
                                            "; the 2 channels loaded before stay in use"}));
    // Unchanged since: not read again, not reported again.
    messages.clear();
    kernel->ReadSettings(true);
    EXPECT_TRUE(messages.empty());
  }

  // Repaired: loaded at its next change. A file longer than its records is fine too.
  b.I32(oCopies, 7);
  WriteStamped(Data("Vellumora.vch"), Header("603", "0001") + b.bytes + "trailing", step++);
  messages.clear();
  kernel->ReadSettings(true);
  EXPECT_EQ(kernel->channelCount, 1);
  EXPECT_EQ(kernel->channels[0].copies, 7);
  EXPECT_EQ(messages, (std::vector<std::string>{"Read updated vch-file data",
                                                "1 Print channel settings imported"}));
}

TEST_F(SettingsStoreTest, DamagedFileAtStartLoadsNoChannels) {
  WriteIni("");
  test::WriteFileBytes(Data("Vellumora.vch"), Header("603", "0003") + std::string(1000, 'x'));
  kernel->ReadSettings(false);
  EXPECT_EQ(kernel->channelCount, 0);
  ASSERT_EQ(kernel->channels.size(), 1u);
  EXPECT_EQ(messages,
            (std::vector<std::string>{
                "ERROR No print channel settings imported from " + Data("Vellumora.vch").string() +
                ": the file holds 0 of the 3 records its header announces (1069 bytes)"}));
}

TEST_F(SettingsStoreTest, OddThingsInTheSettingsFilesPlaceNeitherBlockNorCrash) {
  RawRecord r(kNewRecord);
  r.I32(oCopies, 4);
  test::WriteFileBytes(dir.path() / "elsewhere.vch", Header("603", "0001") + r.bytes);
  test::WriteFileBytes(dir.path() / "elsewhere.ini", "[System]\r\nDebugMode=1\r\n");
  const std::string vchReason =
      "ERROR No print channel settings imported from " + Data("Vellumora.vch").string() + ": ";
  const std::string iniReason =
      "ERROR Ini-file cannot be read: " + Data("Vellumora.ini").string() + " (";
  struct Case {
    const char* what;
    std::function<void(const fs::path&, const fs::path&)> make;  // (file, elsewhere)
    const char* reason;
  };
  const Case cases[] = {
      {"folder", [](const fs::path& f, const fs::path&) { fs::create_directory(f); },
       "it is a folder"},
      {"FIFO", [](const fs::path& f, const fs::path&) { ASSERT_EQ(mkfifo(f.c_str(), 0644), 0); },
       "it is not a regular file"},
      {"link", [](const fs::path& f, const fs::path& e) { fs::create_symlink(e, f); },
       "a symbolic link stands in its place"},
  };
  for (const auto& tc : cases) {
    SCOPED_TRACE(tc.what);
    fs::remove_all(kernel->dataDir);
    fs::create_directories(kernel->dataDir);
    tc.make(Data("Vellumora.ini"), dir.path() / "elsewhere.ini");
    tc.make(Data("Vellumora.vch"), dir.path() / "elsewhere.vch");
    kernel->settings = SystemSettings();
    kernel->iniFileAge = kernel->channelFileAge = FileIdentity{};
    messages.clear();
    kernel->ReadSettings(false);
    EXPECT_FALSE(kernel->settings.DebugMode);
    EXPECT_EQ(kernel->channelCount, 0);
    EXPECT_EQ(messages,
              (std::vector<std::string>{iniReason + tc.reason + ")", vchReason + tc.reason}));
  }
}

TEST_F(SettingsStoreTest, SaveWritesHeaderAndRecordsAndAppendUsesTheSpareSlot) {
  WriteIni("");
  kernel->ReadSettings(false);  // no file: no channels, one zero-filled slot
  ASSERT_EQ(kernel->channels.size(), 1u);
  WriteField(kernel->channels[0].sourceFolder, "/srv/in");
  kernel->channels[0].copies = 1;

  ASSERT_TRUE(kernel->SaveSettings(true));
  std::string bytes = test::ReadFileBytes(Data("Vellumora.vch"));
  ASSERT_EQ(bytes.size(), 69 + kNewRecord);
  EXPECT_EQ(bytes.substr(0, 69),
            "Vellumora    Print-Channel-Definitions Version=603 Channels=0001 DATA");
  EXPECT_EQ(bytes.substr(69, 14), std::string("/\0s\0r\0v\0/\0i\0n\0", 14));
  EXPECT_EQ(bytes.substr(69 + oCopies, 4), std::string("\x01\0\0\0", 4));
  EXPECT_EQ(kernel->channelCount, 1);
  EXPECT_EQ(kernel->channels.size(), 2u);  // reloaded: the spare slot is back
  EXPECT_EQ(kernel->currentChannelIndex, -1);

  ASSERT_TRUE(kernel->SaveSettings(false));
  EXPECT_EQ(test::ReadFileBytes(Data("Vellumora.vch")).size(), 69 + kNewRecord);
  EXPECT_EQ(kernel->channelCount, 1);
}

TEST_F(SettingsStoreTest, UnchangedFilesAreReadOnceAndChangesWithinOneClockTickAreSeen) {
  WriteIni("[Operation]\r\nMaxLogSize=500\r\n");
  RawRecord r(kNewRecord);
  r.I32(oCopies, 1);
  test::WriteFileBytes(Data("Vellumora.vch"), Header("603", "0001") + r.bytes);
  EXPECT_EQ(kernel->ReadSettings(false), 1);
  kernel->channels[0].copies = 42;  // would be overwritten by a reload
  messages.clear();
  EXPECT_EQ(kernel->ReadSettings(true), 0);
  EXPECT_EQ(kernel->channels[0].copies, 42);
  EXPECT_TRUE(messages.empty());

  // Both files are replaced (by a rename, as every writer of them does) within the clock tick
  // of the write before: their times stay the same, their inodes do not.
  const auto vchTime = fs::last_write_time(Data("Vellumora.vch"));
  const auto iniTime = fs::last_write_time(Data("Vellumora.ini"));
  r.I32(oCopies, 7);
  std::string error;
  ASSERT_TRUE(ReplaceFile(Data("Vellumora.vch"), Header("603", "0001") + r.bytes, &error)) << error;
  ASSERT_TRUE(ReplaceFile(Data("Vellumora.ini"), "[Operation]\r\nMaxLogSize=600\r\n", &error))
      << error;
  fs::last_write_time(Data("Vellumora.vch"), vchTime);
  fs::last_write_time(Data("Vellumora.ini"), iniTime);
  EXPECT_EQ(kernel->ReadSettings(true), 1);
  EXPECT_EQ(kernel->channels[0].copies, 7);
  EXPECT_EQ(log.maxLines.load(), 600);
  EXPECT_EQ(messages,
            (std::vector<std::string>{"Read updated ini-file data", "Read updated vch-file data",
                                      "1 Print channel settings imported"}));
}

TEST_F(SettingsStoreTest, MissingFilesAndDirectories) {
  EXPECT_EQ(kernel->ReadSettings(false), 0);
  EXPECT_EQ(messages, std::vector<std::string>{"ERROR Ini-file not found: " +
                                               Data("Vellumora.ini").string()});
  EXPECT_EQ(kernel->channels.size(), 1u);

  messages.clear();
  kernel->dataDir.clear();
  EXPECT_EQ(kernel->ReadSettings(false), 0);
  EXPECT_FALSE(kernel->SaveSettings(false));
  EXPECT_EQ(messages, std::vector<std::string>{"ERROR Application directory is not yet defined"});
}

TEST_F(SettingsStoreTest, IniDefaultsBooleansAndUnknownKeysKept) {
  WriteIni(
      "; edited by hand\r\n[System]\r\nDebugMode=7\r\nMaxCPUload=80\r\nCustomKey=keep me\r\n"
      "[Operation]\r\nSortByDate=0\r\nMaxLogSize=50\r\nDelFailedJobs=1\r\n[Other]\r\nx=1\r\n");
  EXPECT_EQ(kernel->ReadSettings(false), 1);
  const SystemSettings& s = kernel->settings;
  EXPECT_TRUE(s.DebugMode);
  EXPECT_EQ(s.MaxCPUload, 80);
  EXPECT_FALSE(s.SortByDate);
  EXPECT_TRUE(s.DelFailedJobs);
  EXPECT_TRUE(s.NoRawFilePrinting);  // missing: its default
  EXPECT_TRUE(s.LogDate);
  EXPECT_EQ(s.PortA, 51042);
  EXPECT_EQ(log.maxLines.load(), 100);  // raised to the minimum

  kernel->settings.WindowWidth = 1280;
  ASSERT_TRUE(kernel->SaveSettings(false));
  std::string ini = test::ReadFileBytes(Data("Vellumora.ini"));
  for (const char* expected :
       {"CustomKey=keep me\r\n", "[Other]\r\nx=1\r\n", "DebugMode=1\r\n", "SortByDate=0\r\n",
        "WindowWidth=1280\r\n", "MaxLogSize=100\r\n", "AppDataDirectory=", "; edited by hand"})
    EXPECT_NE(ini.find(expected), std::string::npos) << expected << "\n" << ini;
  EXPECT_NE(ini.find("DelFailedJobs=1"), std::string::npos);  // kept as it was, never written
  EXPECT_LT(ini.find("[Application]"), ini.find("[Snapquill]"));
}

TEST_F(SettingsStoreTest, ClientListsKeepTheirEncoding) {
  WriteIni("");
  const std::string utf16 = std::string(
      "\xFF\xFE"
      "A\0n\0n\0\xE4\0\r\0\n\0B\0o\0b\0\r\0\n\0",
      24);
  test::WriteFileBytes(Data("MobileClientNames.lst"), utf16);
  test::WriteFileBytes(Data("MobileClientChannels.lst"), "1,3\r\n\r\n");
  kernel->ReadSettings(false);
  EXPECT_EQ(kernel->clientNames, (std::vector<std::string>{"Ann\xC3\xA4", "Bob"}));
  EXPECT_EQ(kernel->clientChannels, (std::vector<std::string>{"1,3", ""}));
  // A missing file leaves every listed client an empty entry: the lists stay aligned.
  EXPECT_EQ(kernel->clientPins, (std::vector<std::string>{"", ""}));
  EXPECT_EQ(kernel->clientStates.size(), 2u);
  EXPECT_EQ(kernel->serverCommand, "ReadSettings");

  kernel->clientPins = {"???", "123456"};
  ASSERT_TRUE(kernel->SaveClientLists());
  EXPECT_EQ(test::ReadFileBytes(Data("MobileClientNames.lst")), utf16);
  EXPECT_EQ(test::ReadFileBytes(Data("MobileClientChannels.lst")), "1,3\r\n\r\n");
  EXPECT_EQ(test::ReadFileBytes(Data("MobileClientPINs.lst")), "???\r\n123456\r\n");

  // Read once per process: later loads leave the registry to the registry.
  kernel->clientNames.push_back("Cleo");
  kernel->ReadSettings(false);
  EXPECT_EQ(kernel->clientNames.size(), 3u);
}

TEST_F(SettingsStoreTest, SaveFailsWhenEitherFileCannotBeReplaced) {
  // A folder in a file's place cannot be renamed over: that file's save fails.
  for (const char* blocked : {"Vellumora.ini", "Vellumora.vch"}) {
    SCOPED_TRACE(blocked);
    fs::remove_all(kernel->dataDir);
    fs::create_directories(Data(blocked));
    kernel->ReadSettings(false);
    messages.clear();
    EXPECT_FALSE(kernel->SaveSettings(false));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("ERROR Settings not saved, cannot replace ", 0), 0u) << messages[0];
    // The other file was written all the same.
    const char* other = std::string(blocked) == "Vellumora.ini" ? "Vellumora.vch" : "Vellumora.ini";
    EXPECT_TRUE(fs::is_regular_file(Data(other)));
  }
}

TEST_F(SettingsStoreTest, FailedSaveLeavesThePreviousFileLoadable) {
  WriteIni("");
  RawRecord r(kNewRecord);
  r.I32(oCopies, 5);
  test::WriteFileBytes(Data("Vellumora.vch"), Header("603", "0001") + r.bytes);
  kernel->ReadSettings(false);
  kernel->channels[0].copies = 9;

  // A file size limit makes every write beyond 64 kB fail, like a full disk.
  messages.clear();
  {
    test::FileSizeLimit limit(64 * 1024);
    EXPECT_FALSE(kernel->SaveSettings(true));
  }

  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().rfind("ERROR Settings not saved, cannot write ", 0), 0u)
      << messages.back();
  EXPECT_EQ(kernel->channelCount, 1);
  EXPECT_EQ(test::ReadFileBytes(Data("Vellumora.vch")).size(), 69 + kNewRecord);
  kernel->ReadSettings(false);
  EXPECT_EQ(kernel->channels[0].copies, 5);
  for (const auto& entry : fs::directory_iterator(kernel->dataDir))
    EXPECT_EQ(entry.path().filename().string().find(".vch."), std::string::npos)
        << "temporary left behind";
}

}  // namespace
}  // namespace vellumora
