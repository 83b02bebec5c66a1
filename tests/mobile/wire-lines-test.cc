// The protocol's line parsers: what they take from hostile text.
#include <gtest/gtest.h>

#include "mobile/wire-lines.h"

namespace vellumora {
namespace {

TEST(WireLines, LinesEndAtLineFeedAndStayBounded) {
  LineBuffer buffer(10);
  std::string line;
  const std::string bytes = "one\r\ntwo\nthree";
  buffer.Append(bytes.data(), bytes.size());
  ASSERT_EQ(buffer.Next(&line), LineBuffer::Result::kLine);
  EXPECT_EQ(line, "one");
  ASSERT_EQ(buffer.Next(&line), LineBuffer::Result::kLine);
  EXPECT_EQ(line, "two");
  EXPECT_EQ(buffer.Next(&line), LineBuffer::Result::kNeedMore);
  EXPECT_EQ(buffer.TakeRaw(3), "thr");  // raw bytes after a line stay for the data
  buffer.Append("0123456789ab", 12);
  EXPECT_EQ(buffer.Next(&line), LineBuffer::Result::kTooLong);
  EXPECT_EQ(TrimLine(" \t\x01 Quit \x7F\r"), "Quit");
}

TEST(WireLines, AnnouncementsHelloAndSize) {
  auto a = ParseFileIsNext("FileIsNext CH[ Office ] my pic.jpg");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->channel, "Office");
  EXPECT_EQ(a->fileName, "my pic.jpg");
  EXPECT_FALSE(ParseFileIsNext("FileIsNext CH[Office pic.jpg"));
  EXPECT_EQ(ParseFileIsNext("FileIsNext CH[a]")->fileName, "");
  EXPECT_EQ(ParseFileIsNext("FileIsNext CH[a] " + std::string(300, 'n'))->fileName.size(), 250u);

  EXPECT_EQ(ParseHello("HelloVellumora Ann Lee#123456789").name, "Ann Lee");
  EXPECT_EQ(ParseHello("HelloVellumora Ann Lee#123456789").pin, "123456");
  EXPECT_EQ(ParseHello("HelloVellumora Ann").name, "");

  const std::vector<std::pair<std::string, int64_t>> sizes = {
      {"FileSize 123", 123}, {"FileSize abc", 0},  {"FileSize 12x", 0},
      {"FileSize -1", 0},    {"FileSize ", 0},     {"FileSize 99999999999999999999", 0},
      {"FileSize 007", 7},   {"FileSize 1234567890123456789012", 0}};
  for (const auto& [line, size] : sizes) EXPECT_EQ(ParseFileSize(line), size) << line;
}

TEST(WireLines, FileNamesArePlainNames) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"photo.jpg", "photo.jpg"},
      {"../../etc/passwd", "passwd"},
      {"a\\b\\..\\c.jpg", "c.jpg"},
      {"dir/", ""},
      {"..", ""},
      {".", ""},
      {"...hidden", "hidden"},
      {"ev\x01il\x1F\x7F.jpg", "evil.jpg"},
      {"  spaced .jpg ", "spaced .jpg"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(PlainFileName(in), out) << in;
  // At most 250 bytes, never half a UTF-8 character.
  EXPECT_EQ(PlainFileName(std::string(300, 'a')).size(), 250u);
  const std::string umlauts = std::string(249, 'a') + "\xC3\xA4\xC3\xA4";
  EXPECT_EQ(PlainFileName(umlauts), std::string(249, 'a'));

  EXPECT_EQ(NumberedName("pic.jpg", 1), "pic.jpg");
  EXPECT_EQ(NumberedName("pic.jpg", 2), "pic (2).jpg");
  EXPECT_EQ(NumberedName("archive.tar.gz", 3), "archive.tar (3).gz");
  EXPECT_EQ(NumberedName("README", 2), "README (2)");

  EXPECT_EQ(ChannelNameOfFolder("/srv/print/Office"), "Office");
  EXPECT_EQ(ChannelNameOfFolder("/srv/print/"), "/srv/print/");
  EXPECT_EQ(ChannelNumbers("1, 3,x,,0,12"), (std::vector<int32_t>{1, 3, 12}));
}

}  // namespace
}  // namespace vellumora
