// Placeholder of the printer section until it is built.
#include <QLabel>
#include <QVBoxLayout>

#include "ui/setup-dialog.h"

namespace vellumora::ui {

QWidget* TForm1::BuildPrinterSection() {
  auto* w = new QFrame;
  w->setObjectName(QStringLiteral("PNprinter"));
  auto* l = new QVBoxLayout(w);
  l->addWidget(new QLabel(QStringLiteral("Copies to print")));
  l->addWidget(SEcopies);
  auto* limit = new QLabel(QStringLiteral("Max. number of waiting jobs in the Windows print spooler"));
  limit->setWordWrap(true);
  l->addWidget(limit);
  l->addWidget(SEmaxJobsInSpooler);
  return w;
}
QWidget* TForm1::BuildErrorPanel() {
  auto* w = new QFrame;
  w->setObjectName(QStringLiteral("PNElog"));
  w->hide();
  return w;
}
int32_t TForm1::CheckPrinterAccess() { return 0; }
void TForm1::ReportSetupError(int32_t) {}
void TForm1::RefreshSpecialDriverPanel() {}
void TForm1::BNtestBMPClick(QPushButton*) {}

}  // namespace vellumora::ui
