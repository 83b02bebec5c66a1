// TKHelp: the setup dialog's hover help. It shows one paragraph of the plain-text help file
// ("Vellumora.htx") at a time; the dialog asks for the paragraph named by the hint under the
// mouse.
#pragma once

#include <QPlainTextEdit>
#include <string>

namespace vellumora::ui {

class TKHelp : public QPlainTextEdit {
  // Its own meta object: finding the dialog's help panels by type must not take other
  // plain-text views (the activity panel) for help panels.
  Q_OBJECT

 public:
  // Read-only, borderless, navy text on grey-blue (176, 183, 193).
  explicit TKHelp(QWidget* parent = nullptr);

  // The help file: an absolute path, or a name in the program's share folder.
  std::string HelpFile;
  // The paragraph named at design time ("#1", "#4", "#30"), shown when the dialog opens.
  std::string Paragraph;

  // Shows paragraph `name` ("#10"): nothing happens when it is shown already, when the file
  // cannot be read, or when the file has no such paragraph.
  void GetParagraph(const std::string& name);

  const std::string& currentParagraph() const { return current_; }
  // How often the help file was opened (the window tests check that a repeated hint does not
  // read it again).
  int fileReads() const { return fileReads_; }

 private:
  std::string current_;
  int fileReads_ = 0;
};

// The long part of a hint: what follows its first '|', or the whole hint without one.
std::string LongHint(const std::string& hint);

}  // namespace vellumora::ui
