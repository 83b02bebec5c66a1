// The driver settings dialog of the setup dialog: the print server's default job settings of
// one printer (paper, tray, output bin, sides, colour, quality, resolution, pages per sheet,
// orientation, finishings) offered for choice, the result kept as a driver settings block.
#pragma once

#include <QComboBox>
#include <QDialog>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/printers.h"

namespace vellumora::ui {

class DriverSettingsDialog : public QDialog {
 public:
  // `settings` are what the printer offers (printers::DriverSettings); `block` is the block the
  // choices start from, and the one Block() changes. Nothing here touches the printer.
  DriverSettingsDialog(const QString& printer, const std::vector<printers::DriverSetting>& settings,
                       std::vector<uint8_t> block, QWidget* parent);

  // The starting block with the choices made; always of the starting block's length.
  std::vector<uint8_t> Block() const;

  // The choice list of an option, "CB" + its IPP name (CBmedia, CBsides, ...); null when the
  // printer does not offer it.
  QComboBox* Choices(const std::string& option) const;

 private:
  std::vector<uint8_t> start_;
  std::vector<std::pair<std::string, QComboBox*>> combos_;
};

// The caption of a driver setting in the dialog ("Paper size" for media).
QString DriverSettingCaption(const std::string& option);

}  // namespace vellumora::ui
