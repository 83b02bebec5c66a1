// The setup dialog's Snap-Quill page: the mobile clients, their channels and the server.
#include <QHBoxLayout>

#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/setup-dialog.h"

namespace vellumora::ui {

QWidget* TForm1::BuildMobilePage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet3"));
  auto* row = new QHBoxLayout(page);
  row->addStretch(1);
  HelpSNQ = HelpPanel("HelpSNQ", "#30");
  row->addWidget(HelpSNQ);
  return page;
}

}  // namespace vellumora::ui
