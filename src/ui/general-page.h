// The setup dialog's "General setup" page: the global settings (log, error handling and
// start-up checks, PDF rendering, the folder for new channels, file types and print order,
// the CPU load threshold) and the system service panel.
#pragma once

#include <QCheckBox>
#include <QLineEdit>
#include <QSpinBox>
#include <QWidget>
#include <functional>

#include "kernel/system-settings.h"

namespace vellumora::ui {

class ServicePanel;
class TKHelp;

class GeneralPage : public QWidget {
 public:
  GeneralPage(ServicePanel* servicePanel, QWidget* parent = nullptr);

  // Fills the controls from the global settings and the log's line limit. Changes nothing
  // that counts as an edit.
  void LoadGeneralSettings(const SystemSettings& settings, int32_t logMaxLines);
  // The controls' values in the general fields of `values`; the other fields stay.
  void StoreInto(SystemSettings& values) const;

  // The handler every control of the page shares: the page was edited.
  void CBlogDateClick();
  std::function<void()> onChanged;

  QCheckBox* CBlogDate;
  QCheckBox* CBlogTime;
  QCheckBox* CBlogFilename;
  QCheckBox* CBlogPrinteraddress;
  QSpinBox* SElogMaxSize;
  QCheckBox* CBdebug;
  QCheckBox* CBnoStopOnError;
  QCheckBox* CBaccessCheckAtStart;
  QCheckBox* CBusePDFThread;
  QCheckBox* CBnoGDI;
  QLineEdit* EDdefaultPrintFolder;
  QCheckBox* CBonlyKnownTypes;
  QCheckBox* CBsortByDate;
  QSpinBox* SEmaxCPUload;
  ServicePanel* Panel3;
  TKHelp* HelpBasicSetup;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool loading_ = false;
};

}  // namespace vellumora::ui
