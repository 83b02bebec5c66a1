// The log file: encoding, header, line limit and truncation, and concurrent writers.
#include "kernel/klog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/sandbox-dir.h"

namespace vellumora {
namespace {

namespace fs = std::filesystem;

std::string Utf16(std::string_view ascii) {
  std::string out;
  for (char c : ascii) {
    out.push_back(c);
    out.push_back('\0');
  }
  return out;
}

LocalTime At(int month, int day, int hour, int minute) {
  LocalTime t;
  t.year = 2026;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  return t;
}

class KLogTest : public ::testing::Test {
 protected:
  test::SandboxDir dir;
  fs::path file = dir.path() / "Vellumora.log";
  LocalClock clock = [] { return At(3, 7, 9, 5); };
};

TEST_F(KLogTest, NewFileHasByteOrderMarkAndHeaderThenPrefixedLines) {
  C_KLog log(file.string(), clock);
  log.AddLine("Print channel scanning started");
  log.AddLine("");
  EXPECT_EQ(test::ReadFileBytes(file),
            "\xFF\xFE" + Utf16("Vellumora Log-File - Do NOT edit!\r\n \r\n") +
                Utf16("03.07. 09:05   Print channel scanning started\r\n") + Utf16(" \r\n"));
}

TEST_F(KLogTest, NonAsciiTextIsWrittenAsUtf16) {
  C_KLog log(file.string(), clock);
  log.AddLine(
      "Gr\xC3\xBC\xC3\x9F"
      "e \xF0\x9F\x96\xA8");  // Grüße + U+1F5A8
  std::string bytes = test::ReadFileBytes(file);
  EXPECT_NE(bytes.find(std::string("G\0r\0\xFC\0\xDF\0e\0 \0\x3D\xD8\xA8\xDD\r\0\n\0", 20)),
            std::string::npos);
}

TEST_F(KLogTest, LimitOf100CutsTheFileTo69LinesAtThe100thLine) {
  C_KLog log(file.string(), clock);
  log.maxLines = 100;
  for (int i = 1; i <= 97; ++i) log.AddLine("message " + std::to_string(i));
  EXPECT_EQ(log.Lines().size(), 99u);

  log.AddLine("message 98");
  auto lines = log.Lines();
  ASSERT_EQ(lines.size(), 69u);
  EXPECT_EQ(lines[0], u"Vellumora Log-File - Do NOT edit!");
  EXPECT_EQ(lines[1], u" ");
  EXPECT_EQ(lines[2], u"03.07. 09:05   message 32");  // the header and messages 1..31 went
  EXPECT_EQ(lines[68], u"03.07. 09:05   message 98");

  // The file was rewritten whole, with byte order mark, and matches what is held in memory.
  C_KLog reread(file.string(), clock);
  EXPECT_EQ(reread.Lines(), lines);
  EXPECT_EQ(test::ReadFileBytes(file).substr(0, 2), "\xFF\xFE");
}

TEST_F(KLogTest, LimitOutsideItsRangeFallsBackTo1000) {
  for (int32_t bad : {99, 10001, 0}) {
    C_KLog log(file.string(), clock);
    log.maxLines = bad;
    log.AddLine("x");
    EXPECT_EQ(log.maxLines.load(), 1000) << bad;
  }
}

TEST_F(KLogTest, DeletedFileIsRecreatedWithoutHeaderAndHeaderReturnsAtTruncation) {
  C_KLog log(file.string(), clock);
  log.maxLines = 100;
  fs::remove(file);
  log.AddLine("after delete");
  EXPECT_EQ(test::ReadFileBytes(file), Utf16("03.07. 09:05   after delete\r\n"));

  for (int i = 0; i < 97; ++i) log.AddLine("fill");
  std::string bytes = test::ReadFileBytes(file);
  EXPECT_EQ(bytes.substr(0, 2 + 2 * 35),
            "\xFF\xFE" + Utf16("Vellumora Log-File - Do NOT edit!\r\n"));
}

TEST_F(KLogTest, ExistingFileIsLoadedNotRewritten) {
  std::string original =
      "\xFF\xFE" + Utf16("Vellumora Log-File - Do NOT edit!\r\n \r\nold line\r\n");
  std::ofstream(file, std::ios::binary) << original;
  C_KLog log(file.string(), clock);
  EXPECT_EQ(test::ReadFileBytes(file), original);
  EXPECT_EQ(log.Lines().back(), u"old line");
}

TEST_F(KLogTest, UnwritableFileDropsTheMessage) {
  C_KLog log((dir.path() / "missing" / "Vellumora.log").string(), clock);
  log.AddLine("lost");
  EXPECT_EQ(log.Lines().size(), 2u);  // the header it could not write, and nothing else
}

TEST_F(KLogTest, PlantedLinkIsReplacedNeverReadOrWrittenThrough) {
  const fs::path victim = dir.path() / "victim";
  test::WriteFileBytes(victim, "secret\n");
  fs::create_symlink(victim, file);
  {
    C_KLog log(file.string(), clock);
    log.AddLine("started");
    EXPECT_EQ(log.Lines().back(), u"03.07. 09:05   started");
  }
  EXPECT_EQ(test::ReadFileBytes(victim), "secret\n");
  EXPECT_FALSE(fs::is_symlink(file));
  EXPECT_EQ(test::ReadFileBytes(file), "\xFF\xFE" +
                                           Utf16("Vellumora Log-File - Do NOT edit!\r\n \r\n") +
                                           Utf16("03.07. 09:05   started\r\n"));

  // A link planted while the log runs is not written through either.
  C_KLog log(file.string(), clock);
  fs::remove(file);
  fs::create_symlink(victim, file);
  log.AddLine("dropped");
  EXPECT_EQ(test::ReadFileBytes(victim), "secret\n");
}

TEST_F(KLogTest, FolderInPlaceOfTheFileDropsTheMessages) {
  fs::create_directory(file);
  C_KLog log(file.string(), clock);
  log.AddLine("lost");
  EXPECT_EQ(log.Lines().size(), 2u);
  EXPECT_TRUE(fs::is_empty(file));
}

TEST_F(KLogTest, ConcurrentWritersLoseAndTearNoLine) {
  C_KLog log(file.string(), clock);
  log.maxLines = 10000;
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&log, t] {
      for (int i = 0; i < 300; ++i)
        log.AddLine("writer " + std::to_string(t) + " line " + std::to_string(i));
    });
  for (auto& w : writers) w.join();

  C_KLog reread(file.string(), clock);
  auto lines = reread.Lines();
  ASSERT_EQ(lines.size(), 2u + 4 * 300);
  for (std::size_t i = 2; i < lines.size(); ++i)
    ASSERT_EQ(lines[i].rfind(u"03.07. 09:05   writer ", 0), 0u) << i;
}

}  // namespace
}  // namespace vellumora
