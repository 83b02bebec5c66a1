// The setup dialog's channel page: the channel grid, the channel's folder, schedule, output
// and disposal, and the editing cycle that the page layout page shares.
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <cstring>
#include <mutex>

#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/schedule-frame.h"
#include "ui/setup-dialog.h"

namespace vellumora::ui {

QWidget* TForm1::BuildChannelPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet2"));
  auto* row = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  row->addLayout(left, 1);

  EDsourceFolder = Named(new QLineEdit, "EDsourceFolder");
  left->addWidget(EDsourceFolder);
  CBprinters = Named(new QComboBox, "CBprinters");
  CBprinters->setEditable(true);
  left->addWidget(CBprinters);
  SEcopies = Named(new QSpinBox, "SEcopies");
  SEcopies->setRange(1, 100);
  left->addWidget(SEcopies);
  SEmaxJobsInSpooler = Named(new QSpinBox, "SEmaxJobsInSpooler");
  SEmaxJobsInSpooler->setRange(0, 9999);
  left->addWidget(SEmaxJobsInSpooler);
  BNtestBMP = Named(new QPushButton(QStringLiteral("Test JPG\nprintout")), "BNtestBMP");
  BNtestPDF = Named(new QPushButton(QStringLiteral("Test PDF\nprintout")), "BNtestPDF");
  BNtestPRN = Named(new QPushButton(QStringLiteral("Test PRN\nprintout")), "BNtestPRN");
  for (QPushButton* b : {BNtestBMP, BNtestPDF, BNtestPRN}) left->addWidget(b);

  // The week of the channel shown: seven day frames side by side under their row labels.
  auto* scheduler = Named(new QGroupBox(QStringLiteral(" Scheduler")), "GBscheduler");
  SetHint(scheduler, QStringLiteral("#11"));
  scheduler->setFixedSize(76 + 62 * kScheduleDays + 12, 6 + 84 + 26);
  auto* caption = new QLabel(QStringLiteral("Active time period"), scheduler);
  caption->setGeometry(4, 18, 72, 30);
  caption->setWordWrap(true);
  (new QLabel(QStringLiteral("Start"), scheduler))->setGeometry(30, 68, 40, 18);
  (new QLabel(QStringLiteral("Stop"), scheduler))->setGeometry(30, 92, 40, 18);
  for (int32_t i = 0; i < kScheduleDays; ++i) {
    days[i] = new TFrameStartStopTime(scheduler, i);
    days[i]->move(76 + 62 * i, 6 + 16);
    days[i]->show();
  }
  left->addWidget(scheduler);
  left->addStretch();

  HelpPrinters = HelpPanel("HelpPrinters", "#4");
  HelpPrinters->setPlainText(QStringLiteral("For help just move mouse over relevant fields...."));
  row->addWidget(HelpPrinters);
  // The printer section and its error panel (setup-printer-section.cc).
  left->insertWidget(left->count() - 1, BuildPrinterSection());
  BuildErrorPanel()->setParent(page);
  return page;
}

void TForm1::LoadChannelControls(bool /*refillGrid*/) {
  C_Kernel& k = context_.kernel;
  {
    std::lock_guard lock(k.registryLock);
    if (editIndex < 0 || editIndex >= k.channelCount ||
        static_cast<std::size_t>(editIndex) >= k.channels.size())
      return;
    std::memcpy(&editChannel, &k.channels[editIndex], sizeof editChannel);
  }
  for (TFrameStartStopTime* day : days) day->LoadDay(editChannel);
  PageControl1->setTabText(PageControl1->indexOf(TabSheet4),
                           QStringLiteral("Print channel (%1) page layout settings (optional)")
                               .arg(editIndex + 1));
}

void TForm1::StoreChannelControls() {
  for (TFrameStartStopTime* day : days) day->StoreDay(editChannel);
}

}  // namespace vellumora::ui
