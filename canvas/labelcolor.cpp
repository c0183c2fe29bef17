#include "canvas/labelcolor.h"

#include <array>

QColor labelColor(const QString &label)
{
    static const std::array<QRgb, 10> palette = {
        0x4C8DFF, 0x3FB27F, 0x9B7BFF, 0x22C3DD, 0xF08C3A,
        0xE56399, 0x8FBF3F, 0x4FB0C6, 0xC97B4F, 0x6C7BFF,
    };
    quint32 h = 0;   // unsigned arithmetic wraps exactly like the signed 32-bit hash
    for (const QChar c : label)
        h = h * 31u + c.unicode();
    return QColor(palette[h % palette.size()]);
}
