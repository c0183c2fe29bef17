#pragma once

#include "storage/annotation.h"

#include <QHash>
#include <QList>
#include <QString>

// Unconfirmed model results of one image directory, kept in ".brindle_pending.json".
// Main thread only. The file is replaced atomically, so readers never see half of it.

using AnnotationCache = QHash<QString, QList<Annotation>>;

QString pendingFilePath(const QString &imageDir);

// Rewrites the file from the cache: only records with pending 1, only images that have one.
// False (old file intact) when it cannot be written, or when the file is a link that leads out of
// the dataset or nowhere: it is then never written through.
bool writePendingFile(const QString &imageDir, const AnnotationCache &cache);

// Every record read is pending; images without records are absent. Corrupt files read as empty.
// readable (when given) is false when the file exists but could not be read at all (not a regular
// file, too large, an I/O error): unlike a corrupt file, it may hold results worth keeping.
AnnotationCache readPendingFile(const QString &imageDir, bool *readable = nullptr);
