#pragma once

// Fonts and the icon that both windows share.

#include <QFont>
#include <QIcon>

namespace zel::ui {

// The family every control asks for; fontconfig substitutes the nearest installed face.
inline constexpr const char* kFontFamily = "MS Sans Serif";

// The font of every control that names none: the classic 8-point dialog font.
QFont DialogFont();
QFont RequestedFont(double points, bool bold = false);

// Notes and a sharp on a staff, black on white, in 32 x 32 and 16 x 16.
QIcon ProgramIcon();

}  // namespace zel::ui
