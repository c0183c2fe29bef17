#pragma once

#include <QByteArray>
#include <QString>

// Replaces the file at path with bytes through a temporary file in the same directory.
// On any failure the previous file stays untouched and false is returned.
bool writeFileAtomically(const QString &path, const QByteArray &bytes);
