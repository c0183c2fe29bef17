#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// Reading dataset files whole. Label files, class lists and XML are read in one piece and split
// by us: a text stream merges lines at its buffer boundary when a line ends in invalid UTF-8.

// No real label file comes near this; a FIFO or /dev/zero would otherwise be read forever.
constexpr qint64 kLabelFileLimit = 64ll * 1024 * 1024;
// Pending results of a whole pre-labelled folder can be large; still bounded.
constexpr qint64 kPendingFileLimit = 1024ll * 1024 * 1024;

enum class FileRead {
    Ok,
    Missing,     // nothing at the path
    Unreadable,  // exists but is not a regular file, is too large, or reading failed
};

// True when path (links followed) is a regular file. Image readers block on a FIFO and never end
// on a device: everything that opens a file by a path it did not list itself asks this first.
bool isRegularFile(const QString &path);

// Reads a regular file up to maxBytes. Never blocks on FIFOs or devices.
FileRead readRegularFile(const QString &path, QByteArray *bytes, qint64 maxBytes = kLabelFileLimit);

// Reads at most maxBytes from the start of a regular file; whole (when given) tells whether that
// was all of it. For a look at a header without reading a large file.
FileRead readFileHead(const QString &path, QByteArray *bytes, qint64 maxBytes, bool *whole = nullptr);

// Splits at LF, CR LF and lone CR. A final line break does not start another line.
QStringList splitLines(const QString &text);
