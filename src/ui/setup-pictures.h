// Small drawn parts the setup dialog's pages share: the round indicator lamp and the pictures
// of the two kinds of output.
#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
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

}  // namespace vellumora::ui
