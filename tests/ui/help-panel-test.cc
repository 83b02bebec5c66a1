// The hover help panel reading paragraphs of help files, and the program's own help file.
#include "ui/help-panel.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QStringList>
#include <set>
#include <string>

#include "support/sandbox-dir.h"

namespace vellumora::ui {
namespace {

constexpr char kDesignText[] = "For help just move mouse over relevant fields....";

class HelpPanelTest : public ::testing::Test {
 protected:
  // A panel showing its design text, reading `content` as its help file.
  void UseFile(const std::string& content) {
    const auto file = sandbox_.path() / "help.htx";
    test::WriteFileBytes(file, content);
    panel_.HelpFile = file.string();
  }
  std::string Shown() const { return panel_.toPlainText().toStdString(); }

  test::SandboxDir sandbox_;
  TKHelp panel_;
  void SetUp() override { panel_.setPlainText(QString::fromLatin1(kDesignText)); }
};

TEST_F(HelpPanelTest, ShowsTheNamedParagraphEachLineBehindOneBlank) {
  UseFile("#1\nFirst line.\n  indented\n\n#2\nOther text.\n#10\nTen.\n");

  panel_.GetParagraph("#1");
  EXPECT_EQ(Shown(), " First line.\n   indented\n ");
  EXPECT_EQ(panel_.currentParagraph(), "#1");
  // "#1" is not a prefix match for "#10".
  panel_.GetParagraph("#10");
  EXPECT_EQ(Shown(), " Ten.");
  panel_.GetParagraph("#2");
  EXPECT_EQ(Shown(), " Other text.");
}

TEST_F(HelpPanelTest, TheSameHintTwiceReadsTheFileOnce) {
  UseFile("#1\nOne.\n#2\nTwo.\n");
  panel_.GetParagraph("#1");
  panel_.GetParagraph("#1");
  EXPECT_EQ(panel_.fileReads(), 1);
  panel_.GetParagraph("#2");
  EXPECT_EQ(panel_.fileReads(), 2);
  EXPECT_EQ(Shown(), " Two.");
}

TEST_F(HelpPanelTest, AHintThatNamesNoParagraphLeavesTheText) {
  UseFile("#1\nOne.\n#2\nTwo.\n");
  panel_.GetParagraph("Printable area");
  EXPECT_EQ(Shown(), kDesignText);
  panel_.GetParagraph("#1");
  panel_.GetParagraph("Printable area");
  panel_.GetParagraph("One.");  // a text line is no head
  EXPECT_EQ(Shown(), " One.");
  EXPECT_EQ(panel_.currentParagraph(), "#1");
}

TEST_F(HelpPanelTest, AFileThatCannotBeReadLeavesTheText) {
  const auto fifo = sandbox_.path() / "fifo.htx";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // A missing file, a folder, and a FIFO that nobody writes to (which must not block).
  for (const std::string& path :
       {(sandbox_.path() / "missing.htx").string(), sandbox_.path().string(), fifo.string()}) {
    panel_.HelpFile = path;
    panel_.GetParagraph("#1");
    EXPECT_EQ(Shown(), kDesignText) << path;
    EXPECT_EQ(panel_.currentParagraph(), "") << path;
  }
  EXPECT_EQ(panel_.fileReads(), 0);
}

TEST_F(HelpPanelTest, TheLastLineWithoutLineEndLosesItsLastCharacter) {
  UseFile("#1\nOne.\n#2\nlast line");
  panel_.GetParagraph("#2");
  EXPECT_EQ(Shown(), " last lin");
}

TEST_F(HelpPanelTest, WindowsLineEndsAreNotShown) {
  UseFile("#1\r\nFirst.\r\n\r\nSecond.\r\n#2\r\nTwo.\r\n");
  panel_.GetParagraph("#1");
  EXPECT_EQ(Shown(), " First.\n \n Second.");
}

TEST_F(HelpPanelTest, ALongLineIsShownInPiecesOf255WithoutLosingCharacters) {
  const std::string exact(255, 'e');
  const std::string longer = std::string(255, 'a') + std::string(45, 'b');
  UseFile("#1\n" + exact + "\n" + longer + "\nend\n#2\n");
  panel_.GetParagraph("#1");
  const QStringList lines = panel_.toPlainText().split(QLatin1Char('\n'));
  ASSERT_EQ(lines.size(), 4);
  EXPECT_EQ(lines[0].toStdString(), " " + exact);  // no empty line after a full read
  EXPECT_EQ(lines[1].toStdString(), " " + std::string(255, 'a'));
  EXPECT_EQ(lines[2].toStdString(), " " + std::string(45, 'b'));
  EXPECT_EQ(lines[3].toStdString(), " end");
}

TEST_F(HelpPanelTest, TheFirstCharacterOfTheFileIsTheMarker) {
  UseFile("@a\nText with\n#no head\n@b\nB.\n");
  panel_.GetParagraph("@a");
  EXPECT_EQ(Shown(), " Text with\n #no head");
  panel_.GetParagraph("#no head");
  EXPECT_EQ(panel_.currentParagraph(), "@a");
}

TEST_F(HelpPanelTest, EightBitTextIsShownAsLatin1) {
  UseFile("#1\nCaf\xE9 \x01.\n");
  panel_.GetParagraph("#1");
  EXPECT_EQ(panel_.toPlainText(), QString::fromUtf8(" Caf\u00E9 \x01."));
}

TEST(HelpPanel, ANameWithoutFolderIsFoundInTheShareFolder) {
  TKHelp panel;
  panel.HelpFile = "Vellumora.htx";
  panel.GetParagraph("#7");
  EXPECT_EQ(panel.fileReads(), 1);
  EXPECT_EQ(panel.currentParagraph(), "#7");
  EXPECT_NE(panel.toPlainText().indexOf(QStringLiteral("SCREEN")), -1);
}

TEST(HelpPanel, LongHintIsTheTextAfterTheFirstBar) {
  const struct {
    const char* hint;
    const char* expected;
  } cases[] = {{"#10", "#10"},
               {"Create new print channel|#4", "#4"},
               {"a|b|c", "b|c"},
               {"", ""},
               {"ends with|", ""}};
  for (const auto& c : cases) EXPECT_EQ(LongHint(c.hint), c.expected) << c.hint;
}

// The help file the setup dialog reads: every paragraph its fields name is there, and the
// file is plain enough for any editor and for the panel.
TEST(HelpFile, HasEveryParagraphInPlainShortLines) {
  const std::string path = std::string(VELLUMORA_SOURCE_SHARE) + "Vellumora.htx";
  const std::string bytes = test::ReadFileBytes(path);
  ASSERT_FALSE(bytes.empty());
  EXPECT_EQ(bytes.front(), '#');
  EXPECT_EQ(bytes.back(), '\n');

  std::set<std::string> heads;
  size_t lineNumber = 0;
  size_t begin = 0;
  while (begin < bytes.size()) {
    size_t end = bytes.find('\n', begin);
    if (end == std::string::npos) end = bytes.size();
    const std::string line = bytes.substr(begin, end - begin);
    ++lineNumber;
    EXPECT_LE(line.size(), 200u) << "line " << lineNumber;
    for (const char c : line) {
      EXPECT_TRUE(c >= 0x20 && c <= 0x7E) << "line " << lineNumber << " byte " << int(c);
    }
    if (!line.empty() && line.front() == '#') {
      EXPECT_TRUE(heads.insert(line).second) << "twice: " << line;
    }
    begin = end + 1;
  }

  std::set<std::string> expected;
  for (int n = 1; n <= 32; ++n) expected.insert("#" + std::to_string(n));
  EXPECT_EQ(heads, expected);

  TKHelp panel;
  panel.HelpFile = path;
  for (const std::string& name : expected) {
    panel.setPlainText(QString());
    panel.GetParagraph(name);
    EXPECT_EQ(panel.currentParagraph(), name);
    EXPECT_FALSE(panel.toPlainText().trimmed().isEmpty()) << name;
  }
}

}  // namespace
}  // namespace vellumora::ui
