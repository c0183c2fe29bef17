#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

// Replacing dataset files so that a failed write (a full disk, a read-only folder) never leaves
// a truncated file in place. Data goes unbuffered into a temporary file beside the target, every
// write is checked, and only a completely written file replaces the old one.

// Dataset files are written only inside their dataset: given a root, a write that a link at the
// path (or on its way) would carry outside root, or into nothing, is refused (writeguard.h).

// Two steps for writers that must commit several files in an order of their own.
class PreparedFile
{
public:
    // An empty root writes wherever the path leads (a file the user named).
    explicit PreparedFile(const QString &path, const QString &insideRoot = QString());
    PreparedFile(const PreparedFile &) = delete;
    PreparedFile &operator=(const PreparedFile &) = delete;

    // Writes bytes into the temporary file; false when any of it failed. The target is untouched.
    bool prepare(const QByteArray &bytes);
    // Replaces the target with the prepared file; false (target untouched) on failure.
    bool commit();

private:
    QSaveFile m_file;
    QString m_root;
    bool m_ready = false;
};

// prepare + commit. On any failure the previous file stays untouched and false is returned.
bool writeFileAtomically(const QString &path, const QByteArray &bytes, const QString &insideRoot = QString());
