#pragma once

#include <QColor>
#include <QString>

// Colour tokens of the dark theme, for items that paint themselves (canvas, delegates, toasts).
namespace Theme {
inline const QColor bg{0x1E, 0x21, 0x28};
inline const QColor panel{0x26, 0x2A, 0x33};
inline const QColor panel2{0x2D, 0x32, 0x3D};
inline const QColor line{0x3A, 0x41, 0x50};
inline const QColor text{0xE6, 0xE9, 0xEF};
inline const QColor textDim{0x9A, 0xA3, 0xB2};
inline const QColor accent{0x4C, 0x8D, 0xFF};
inline const QColor success{0x3F, 0xB2, 0x7F};
inline const QColor warn{0xE2, 0xB9, 0x3D};
inline const QColor danger{0xE5, 0x53, 0x4B};
inline const QColor pending{0xE2, 0xB9, 0x3D};
inline const QColor canvasBackground{0x17, 0x1A, 0x20};
} // namespace Theme

// Reads a style sheet resource as UTF-8 and installs it on the application.
// Returns false (and leaves the default look) when the resource does not open.
bool installStyleSheet(const QString &resourcePath);

// Window and Base roles of the application palette, for all colour groups.
void installDarkPalette();
