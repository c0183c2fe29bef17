#pragma once

#include <QString>
#include <QStringList>

// The class names that give YOLO class numbers their meaning. Other tools keep them elsewhere than
// our "classes.txt": Darknet and CVAT in "obj.names", Label Studio in the dataset root,
// Ultralytics and Roboflow in a YAML file. Reentrant; each thread keeps its own cache.

enum class NamesSource {
    None,       // no names anywhere
    ClassList,  // "classes.txt" of the labels folder: ours, rewritten as labels are saved
    OtherTool,  // another tool's file: its indices are kept and it is never written
};

struct ClassNames
{
    QStringList names;  // by class index; an empty entry is an index a YAML map leaves out
    QString file;       // where they came from; empty when there is no names file
    NamesSource source = NamesSource::None;
    bool ok = true;     // false: the names file exists but cannot be read; its names are unknown
};

// Names of a labels folder, the first that exists: "classes.txt" in it; "obj.names" in it or its
// parent; "classes.txt" in the dataset root; the `names` of the nearest YAML file at most three
// folders up ("data.yaml", "dataset.yaml", then others in name order). Each file is read once per
// thread and read again when it changes.
ClassNames findClassNames(const QString &labelsDir);
// The same search without the folder's own "classes.txt": the other tool's names file that the
// folder's labels must also agree with.
ClassNames findOtherToolNames(const QString &labelsDir);

// The parent of the "labels" folder that the path lies in (the folder that also holds images/),
// or the parent of labelsDir when it lies in none.
QString datasetRootFor(const QString &labelsDir);

// Trimmed non-empty lines of a names file ("classes.txt", "obj.names"); empty when missing.
// ok is false when the file exists but cannot be read.
QStringList readNamesFile(const QString &path, bool *ok = nullptr);

// A label as a names file can hold it: one trimmed line. Anything else would shift the index of
// every later class.
QString classListEntry(const QString &label);

// Lines to write into "classes.txt": an index left out by a YAML map becomes "class<N>".
QStringList classListLines(const QStringList &names);

// Categories another tool's names file lacks: a save refused for them (classListFile empty), or
// appended to our "classes.txt" beside it; the user has to add them there too.
struct NamesFileNotice
{
    QString namesFile;        // the other tool's file (obj.names, data.yaml, ...)
    QString classListFile;    // the "classes.txt" that now holds the full list
    QStringList missingNames; // in index order

    bool isEmpty() const { return missingNames.isEmpty(); }
};
