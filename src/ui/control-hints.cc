// Hover hints kept as a widget property, read back by the setup dialog's hint handler.
#include "ui/control-hints.h"

#include <QVariant>

namespace vellumora::ui {

namespace {
constexpr char kHintProperty[] = "vellumoraHint";
}

void SetHint(QWidget* widget, const QString& hint) {
  widget->setProperty(kHintProperty, hint);
  if (!hint.startsWith(QLatin1Char('#'))) widget->setToolTip(hint);
}

QString HintOf(const QWidget* widget) {
  for (const QWidget* w = widget; w != nullptr; w = w->parentWidget()) {
    const QVariant hint = w->property(kHintProperty);
    if (hint.isValid() && !hint.toString().isEmpty()) return hint.toString();
  }
  return {};
}

}  // namespace vellumora::ui
