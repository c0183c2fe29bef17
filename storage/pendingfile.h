#pragma once

#include "storage/annotation.h"
#include "storage/filestamp.h"

#include <QHash>
#include <QList>
#include <QMetaType>
#include <QString>

// Unconfirmed model results of one image directory, kept in ".brindle_pending.json".
// The file is replaced atomically, so readers never see half of it. Reentrant: the functions
// work on paths and values only.
//
// The file names images relative to its folder, so that it survives a moved, copied or linked
// folder; the maps below always hold absolute paths in the folder as given. Older files keyed by
// absolute paths are read too (see readPendingFile).

using AnnotationCache = QHash<QString, QList<Annotation>>;

QString pendingFilePath(const QString &imageDir);
// The lock every writer of the pending file holds while it reads, merges and writes.
QString pendingLockPath(const QString &imageDir);

// Rewrites the file from the cache, under the lock: only records with pending 1, only images that
// have one. False (old file intact) when it cannot be written, when the lock cannot be had, or
// when the file is a link that leads out of the dataset or nowhere: it is then never written through.
bool writePendingFile(const QString &imageDir, const AnnotationCache &cache);

// Every record read is pending; images without records are absent. Corrupt files read as empty.
// readable (when given) is false when the file exists but could not be read at all (not a regular
// file, too large, an I/O error): unlike a corrupt file, it may hold results worth keeping.
// A relative key is a path below the folder; an absolute key of this folder is taken as it is,
// and one written elsewhere (before the folder was moved, or through another path to it) is taken
// by the part of it that names an image here.
AnnotationCache readPendingFile(const QString &imageDir, bool *readable = nullptr);

// What a program last read or wrote of the file: another program's changes are what differs from it.
struct PendingFileState
{
    AnnotationCache records;   // pending records only
    FileStamp stamp;           // the file then; a stamp of no file when it could not be told
};

PendingFileState readPendingFileState(const QString &imageDir, bool *readable = nullptr);

// The outcome of syncPendingFile.
struct PendingSync
{
    bool ok = false;          // false: nothing written (no lock, a failed write, an unreadable file)
    PendingFileState state;   // what the file holds now: the base of the next sync
    // Per image: records another program added, to be added to ours, and records of ours another
    // program has decided (confirmed or rejected), to be removed from ours.
    AnnotationCache added;
    AnnotationCache removed;
};

// A read-merge-write of the file under its lock. When the file changed since base was taken, it
// is read and merged: records ours removed since base stay removed, records another program
// removed are dropped, and records either side added are kept. With write false only the merge is
// reported (no lock, nothing written). An unreadable file is never overwritten; a missing or
// corrupt one counts as unchanged.
PendingSync syncPendingFile(const QString &imageDir, const PendingFileState &base, const AnnotationCache &ours,
                            bool write = true);

Q_DECLARE_METATYPE(PendingFileState)
Q_DECLARE_METATYPE(PendingSync)
