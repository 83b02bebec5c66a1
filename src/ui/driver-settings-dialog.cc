// The driver settings dialog: one choice list per default job setting the printer offers.
#include "ui/driver-settings-dialog.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "ui/control-hints.h"

namespace vellumora::ui {

namespace {

// The settings in the order the dialog shows them, with their captions.
constexpr std::pair<const char*, const char*> kCaptions[] = {
    {"media", "Paper size"},
    {"media-source", "Paper source (tray)"},
    {"output-bin", "Output bin"},
    {"sides", "Two-sided printing"},
    {"print-color-mode", "Colour mode"},
    {"print-quality", "Print quality"},
    {"printer-resolution", "Resolution"},
    {"number-up", "Pages per sheet"},
    {"orientation-requested", "Orientation"},
    {"finishings", "Finishing"},
    {"copies", "Copies"},
};

int DisplayOrder(const std::string& option) {
  int at = 0;
  for (const auto& entry : kCaptions) {
    if (option == entry.first) return at;
    ++at;
  }
  return at;
}

// The choice that stands for `token`: the server reports a default it was given as a keyword
// as a name at times, the same value all the same.
std::string MatchingChoice(const std::vector<std::string>& choices, const std::string& token) {
  if (token.empty()) return token;
  for (const std::string& c : choices) {
    if (c == token) return c;
    if (c.size() == token.size() && (c[0] == 'k' || c[0] == 'n') &&
        (token[0] == 'k' || token[0] == 'n') && c.compare(1, c.npos, token, 1) == 0)
      return c;
  }
  return token;
}

}  // namespace

QString DriverSettingCaption(const std::string& option) {
  for (const auto& [name, caption] : kCaptions)
    if (option == name) return QString::fromLatin1(caption);
  return QString::fromStdString(option);
}

DriverSettingsDialog::DriverSettingsDialog(const QString& printer,
                                           const std::vector<printers::DriverSetting>& settings,
                                           std::vector<uint8_t> block, QWidget* parent)
    : QDialog(parent), start_(std::move(block)) {
  setObjectName(QStringLiteral("DriverSettingsDialog"));
  setWindowTitle(QStringLiteral("Special driver settings - %1").arg(printer));
  auto* layout = new QVBoxLayout(this);
  auto* intro = new QLabel(
      QStringLiteral("Default job settings of printer <b>%1</b> for this print channel.<br>"
                     "They are kept with the channel once you save it; the printer's own "
                     "defaults stay as they are.<br>Each list marks the printer's current "
                     "default.")
          .arg(printer.toHtmlEscaped()));
  intro->setWordWrap(true);
  layout->addWidget(intro);

  auto* form = new QFormLayout;
  layout->addLayout(form);
  std::vector<printers::DriverSetting> shown = settings;
  std::stable_sort(shown.begin(), shown.end(), [](const auto& a, const auto& b) {
    return DisplayOrder(a.option) < DisplayOrder(b.option);
  });
  for (const printers::DriverSetting& s : shown) {
    // The copies are the channel's own setting: its slot keeps whatever it holds.
    if (s.option == "copies") continue;
    const std::string chosen = MatchingChoice(s.choices, printers::BlockSetting(start_, s.option));
    const std::string current = MatchingChoice(s.choices, s.current);
    auto* box = new QComboBox;
    box->setObjectName(QStringLiteral("CB") + QString::fromStdString(s.option));
    box->addItem(QStringLiteral("(not set: the printer's own default)"), QString());
    for (const std::string& token : s.choices) {
      QString label = QString::fromStdString(printers::SettingLabel(s.option, token));
      if (token == current) label += QStringLiteral("   [printer default]");
      box->addItem(label, QString::fromStdString(token));
    }
    // A stored choice the printer no longer offers stays visible rather than being dropped.
    if (!chosen.empty() &&
        std::find(s.choices.begin(), s.choices.end(), chosen) == s.choices.end())
      box->addItem(QString::fromStdString(printers::SettingLabel(s.option, chosen)) +
                       QStringLiteral("   [not offered by the printer now]"),
                   QString::fromStdString(chosen));
    box->setCurrentIndex(std::max(0, box->findData(QString::fromStdString(chosen))));
    form->addRow(DriverSettingCaption(s.option), box);
    combos_.emplace_back(s.option, box);
  }
  if (combos_.empty())
    layout->addWidget(new QLabel(QStringLiteral("The printer offers no settings to choose.")));

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  Named(buttons->button(QDialogButtonBox::Ok), "BNok");
  Named(buttons->button(QDialogButtonBox::Cancel), "BNcancel");
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  layout->addWidget(buttons);
}

std::vector<uint8_t> DriverSettingsDialog::Block() const {
  std::vector<uint8_t> block = start_;
  for (const auto& [option, box] : combos_)
    printers::SetBlockSetting(block, option, box->currentData().toString().toStdString());
  return block;
}

QComboBox* DriverSettingsDialog::Choices(const std::string& option) const {
  for (const auto& [name, box] : combos_)
    if (name == option) return box;
  return nullptr;
}

}  // namespace vellumora::ui
