// Object names and hover hints of the windows' controls: tests and the ui script find controls
// by name, and the setup dialog's help panels follow the hint under the mouse.
#pragma once

#include <QString>
#include <QWidget>

namespace vellumora::ui {

template <typename T>
T* Named(T* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

// Gives `widget` its hint. A hint that names a help paragraph ("#17") only steers the help
// panel; any other hint ("Printable area") is also the control's tool tip.
void SetHint(QWidget* widget, const QString& hint);

// The hint that applies under the mouse at `widget`: its own, or else its nearest parent's.
QString HintOf(const QWidget* widget);

}  // namespace vellumora::ui
