// TForm2: the about window, with the licence and the acknowledgements read from the program's
// shared files.
#pragma once

#include <QDialog>
#include <QIcon>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

namespace vellumora::ui {

// The program's icon, "vellumora.svg" in `shareDirectory` (ends in '/'), for the windows and
// the about window's logo. Null when the file is missing or cannot be read as a picture.
QIcon ProgramIcon(const QString& shareDirectory);

class TForm2 : public QDialog {
 public:
  // shareDirectory: where "License.txt" and "Acknowledgements.txt" are (ends in '/'; may be
  // empty, the memos then keep their design-time texts).
  explicit TForm2(QString shareDirectory, QWidget* parent = nullptr);

  // Set by the main window at start: the product name and "Version " + versionText.
  void SetProduct(const QString& productName, const QString& versionText);

 protected:
  void showEvent(QShowEvent* event) override;                  // FormShow: loads the two texts
  bool eventFilter(QObject* watched, QEvent* event) override;  // clicks on the link labels

 private:
  void Label4Click();
  void Label7Click();
  void Label11Click();

  QString shareDirectory_;
  QLabel* LBname_;
  QLabel* LBversion_;
  QPlainTextEdit* Memo1_;
  QPlainTextEdit* Memo2_;
  QLabel* Image1_;
  QLabel* Label4_;
  QLabel* Label7_;
  QLabel* Label11_;
};

}  // namespace vellumora::ui
