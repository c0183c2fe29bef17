#pragma once

#include "storage/annotation.h"
#include "storage/annotationstore.h"
#include "storage/pendingfile.h"

struct SaveReport;

#include <QList>
#include <QString>
#include <QStringList>

// What the window and the command-line run do with a model's results for one image, in one place
// so that the two cannot disagree. Plain functions on values and paths; owner's thread.

// A result repeats an existing shape when the labels match ignoring case and the IoU is above this.
constexpr double kOverlapIoU = 0.7;

struct OverlapFilterResult
{
    QList<Annotation> kept;   // in the order given
    int dropped = 0;
};

// Drops every result that repeats one of the existing annotations (confirmed or pending), then
// every result that repeats a more confident one of the same list (of equals, the first stays).
// Boxes without a positive area never repeat anything.
OverlapFilterResult filterOverlapping(const QList<Annotation> &existing, const QList<Annotation> &results);

// The image's list after a run: what was there, then the kept results.
QList<Annotation> mergeResults(const QList<Annotation> &existing, const QList<Annotation> &kept);

// The records of a list that belong in its label file: confirmed and labelled.
QList<Annotation> labelFileRecords(const QList<Annotation> &annotations);

// True when any record is confirmed (pending 0).
bool hasConfirmed(const QList<Annotation> &annotations);

// Writes the label-file records of the image's list into its label file, in that file's format;
// an image without one gets a new file in newFileFormat.
bool writeConfirmedResults(const QString &imagePath, const QList<Annotation> &annotations, LabelFormat newFileFormat,
                           const QStringList &classNames, SaveReport *report = nullptr);

// A cache entry as the window builds it: the stored annotations, then the pending records.
QList<Annotation> cacheEntry(const QString &imagePath, const QList<Annotation> &pendingRecords);

// The cache of a freshly opened directory: an entry for every listed image that has records in the
// pending file. Keys of images no longer listed are left out, so the next write drops them.
AnnotationCache loadPendingCache(const QString &imageDir, const QStringList &listedImages);

struct CacheMergeResult
{
    QList<Annotation> kept;         // as they went into the cache
    int dropped = 0;
    bool labelsWritten = false;
    // Confirmed results that could not be written, or whose label file holds records that could
    // not be read (rewriting it would lose them): they are kept as pending results instead.
    bool writeFailed = false;
    bool labelsUnreadable = false;
    QString unreadableNamesFile;   // the class-names file that made the write refuse
    QString keypointRowsFile;      // the pose dataset's file: its rows hold no outline
    int outsideImage = 0;          // stored shapes wholly outside the image, left out of the write
};

// Results of an image that is not on screen: filtered against its cache entry (loaded from disk
// when it has none), appended to it, and, when any kept result is confirmed, the image's label
// file is rewritten from the entry. The cache is left untouched when nothing is kept.
CacheMergeResult mergeIntoCache(AnnotationCache &cache, const QString &imagePath,
                                const QList<Annotation> &results, LabelFormat newFileFormat, const QStringList &classNames);
