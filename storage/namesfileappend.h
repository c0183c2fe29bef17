#pragma once

#include <QString>
#include <QStringList>

// Adding categories to another tool's class-names file (data.yaml, dataset.yaml, obj.names, a
// dataset root's classes.txt), so that the dataset keeps one class list. Only the new names are
// added (and a YAML `nc:` follows them); every other byte of the file stays as it was. Reentrant.

enum class NamesAppend {
    Appended,
    Unreadable,   // the file cannot be read, or is not a names file we can extend
    Unsupported,  // its `names` are written in a way that an edit could not keep intact
    Refused,      // a link at the file or on its way: never written through
    WriteFailed,
};

// Appends names (in order, each once, skipping those already there) to file. The write is atomic
// and stays inside the folder that holds the file.
NamesAppend appendClassNames(const QString &file, const QStringList &names);

// The same edit on the bytes of a YAML file; false when it cannot be made safely.
bool appendYamlNames(const QByteArray &yaml, const QStringList &names, QByteArray *out);
