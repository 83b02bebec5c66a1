// Small parts the setup dialog's pages share: the round indicator lamp, the pictures of the
// two kinds of output, colours, record texts and a wait that keeps the windows alive.
#pragma once

#include <QColor>
#include <QFrame>
#include <QPalette>
#include <QPixmap>
#include <QString>
#include <cstddef>
#include <functional>

namespace vellumora::ui {

inline const QColor kLampGrey(128, 128, 128);
inline const QColor kLampGreen(10, 201, 105);
inline const QColor kLampRed(255, 0, 0);

// A round lamp of 18 × 18 pixels, grey at first; a click on it runs `clicked` (may be empty).
QFrame* NewLamp(std::function<void()> clicked = {});
// The lamp's colour (its palette's window colour).
void SetLamp(QFrame* lamp, const QColor& color);

// The picture of a printer ("PRINTER100") or of the screen ("SCREEN100"), 100 × 100 pixels.
QPixmap TargetPicture(bool screen);

// One colour of the widget's palette.
void SetColour(QWidget* widget, QPalette::ColorRole role, const QColor& colour);

// The text of a wide record field (up to its terminator or its end).
QString FieldText(const char16_t* units, std::size_t size);

// Waits `milliseconds` while the windows go on handling their events and timers.
void WaitPumping(int milliseconds);

}  // namespace vellumora::ui
