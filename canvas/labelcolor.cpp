#include "canvas/labelcolor.h"

#include <QHash>

#include <array>

namespace {

// Twelve hues on the dark canvas, none of them the amber of unconfirmed results (#E2B93D).
constexpr std::array<QRgb, 12> kPalette = {
    0xFF5C5C,   // red
    0xFF8A3D,   // orange
    0xC9DB3A,   // lime
    0x5FD35A,   // green
    0x2EC4A0,   // teal
    0x22C3DD,   // cyan
    0x4C8DFF,   // blue
    0x8C7BFF,   // indigo
    0xC06CFF,   // violet
    0xF062D6,   // magenta
    0xFF7EA8,   // pink
    0xC9A27E,   // tan
};

int hashSlot(const QString &label)
{
    quint32 h = 0;   // unsigned arithmetic wraps, the same on every platform
    for (const QChar c : label)
        h = h * 31u + c.unicode();
    return int(h % kPalette.size());
}

struct Assignment
{
    QHash<QString, int> slotOf;
    std::array<bool, kPalette.size()> taken{};

    // The hash's slot when free, else the next free one round the wheel; the hash's when all are taken.
    int freeSlotFor(const QString &label) const
    {
        const int preferred = hashSlot(label);
        for (int step = 0; step < int(kPalette.size()); ++step) {
            const int slot = (preferred + step) % int(kPalette.size());
            if (!taken[slot])
                return slot;
        }
        return preferred;
    }
    void assign(const QString &label, int slot)
    {
        slotOf.insert(label, slot);
        taken[slot] = true;
    }
};

Assignment &current()
{
    static Assignment assignment;
    return assignment;
}

} // namespace

QColor labelColor(const QString &label)
{
    const Assignment &a = current();
    const auto it = a.slotOf.constFind(label);
    // A name not in use (typed in the label dialog) shows the colour it would get when added.
    return QColor(kPalette[it != a.slotOf.constEnd() ? it.value() : a.freeSlotFor(label)]);
}

bool setLabelsInUse(const QStringList &labels)
{
    Assignment &old = current();
    Assignment next;
    // Names still in use keep their colour, in the order they were given it.
    for (const QString &label : labels) {
        const auto it = old.slotOf.constFind(label);
        if (it != old.slotOf.constEnd() && !next.slotOf.contains(label) && !next.taken[it.value()])
            next.assign(label, it.value());
    }
    for (const QString &label : labels) {
        if (!next.slotOf.contains(label))
            next.assign(label, next.freeSlotFor(label));
    }
    const bool changed = next.slotOf != old.slotOf;
    old = next;
    return changed;
}

int labelPaletteSize()
{
    return int(kPalette.size());
}
