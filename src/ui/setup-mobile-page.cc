// The setup dialog's Snap-Quill page: the mobile clients, their channels and the server.
#include "ui/control-hints.h"
#include "ui/help-panel.h"
#include "ui/main-window.h"
#include "ui/mobile-page.h"
#include "ui/setup-dialog.h"

namespace vellumora::ui {

QWidget* TForm1::BuildMobilePage() {
  HelpSNQ = HelpPanel("HelpSNQ", "#30");
  mobile = new MobilePage(context_.kernel, HelpSNQ);
  mobile->dialogVisible = [this] { return isVisible(); };
  mobile->pageShowing = [this] { return isVisible() && PageControl1->currentWidget() == TabSheet3; };
  mobile->showPage = [this] {
    if (!isVisible()) show();
    if (PageControl1->currentWidget() != TabSheet3) SelectPageByCode(TabSheet3);
  };
  mobile->showConnectionCount = [this](int32_t count) {
    if (main_) main_->ShowSnqClients(count);
  };
  return mobile;
}

void TForm1::SetInfoWindow(TFormInfo* info) {
  info_ = info;
  mobile->info = info;
}

void TForm1::AttachMobileServer() { mobile->AttachServer(); }

void TForm1::DetachMobileServer() { mobile->DetachServer(); }

void TForm1::SwitchServerOn() {
  mobile->BNsnqSwitch->setChecked(true);
  mobile->BNsnqSwitchClick();
}

}  // namespace vellumora::ui
