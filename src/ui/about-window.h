// TForm2: the about window, with the licence and the acknowledgements read from the program's
// shared files.
#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QString>

namespace vellumora::ui {

class TForm2 : public QDialog {
 public:
  // shareDirectory: where "License.txt" and "Acknowledgements.txt" are (ends in '/'; may be
  // empty, the memos then keep their design-time texts).
  explicit TForm2(QString shareDirectory, QWidget* parent = nullptr);

  // Set by the main window at start: the product name and "Version " + versionText.
  void SetProduct(const QString& productName, const QString& versionText);

 protected:
  void showEvent(QShowEvent* event) override;  // FormShow: loads the two texts

 private:
  QString shareDirectory_;
  QLabel* LBname_;
  QLabel* LBversion_;
  QPlainTextEdit* Memo1_;
  QPlainTextEdit* Memo2_;
};

}  // namespace vellumora::ui
