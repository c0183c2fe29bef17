#include "session/foldersession.h"

#include "session/categoryhistory.h"
#include "session/datasetcategories.h"
#include "session/labelfilestamps.h"
#include "session/liveannotations.h"
#include "session/pendingresults.h"
#include "session/timinglog.h"
#include "shared/language.h"
#include "storage/annotationgeometry.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "storage/dotafile.h"
#include "storage/filestatescanner.h"
#include "storage/keypoints.h"
#include "storage/classnames.h"
#include "storage/labelfilereader.h"
#include "storage/labelconversion.h"
#include "storage/namesfileappend.h"
#include "storage/yolofile.h"
#include "storage/writeguard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>
#include <utility>

namespace {

QStringList labelsOf(const QList<Annotation> &annotations)
{
    QStringList labels;
    for (const Annotation &a : annotations)
        labels.append(a.label);
    return labels;
}

bool anyPending(const QList<Annotation> &annotations)
{
    return std::any_of(annotations.cbegin(), annotations.cend(), [](const Annotation &a) { return a.pending != 0; });
}

// Results for an image of a folder that is not open: merged straight into that folder's label and
// pending files, as the session would have done with the folder open.
CacheMergeResult storeInFolderFiles(const QString &path, const QList<Annotation> &results, LabelFormat newFileFormat,
                                    const QStringList &classNames)
{
    const QString dir = QFileInfo(path).absolutePath();
    bool readable = true;
    const PendingFileState base = readPendingFileState(dir, &readable);
    AnnotationCache cache = base.records;
    const auto own = cache.constFind(path);
    if (own != cache.cend())
        cache.insert(path, cacheEntry(path, own.value()));
    const CacheMergeResult merged = mergeIntoCache(cache, path, results, newFileFormat, classNames);
    // A file that exists but cannot be read may hold results: it is not overwritten. Another
    // program may write it meanwhile: the write merges.
    if (anyPending(merged.kept) && readable)
        syncPendingFile(dir, base, cache);
    return merged;
}

bool moveLabelFilesToTrash(const QString &imagePath)
{
    const QStringList files = labelFilesOf(imagePath);
    bool removed = true;
    for (const QString &file : files) {
        // Restoring the image from the trash then restores its labels too.
        if (!QFile::moveToTrash(file))
            removed = QFile::remove(file) && removed;
    }
    return removed;
}

} // namespace

FolderSession::FolderSession(QObject *parent)
    : QObject(parent)
    , m_directoryLoader(new DirectoryLoader(this))
    , m_stateScanner(new FileStateScanner(this))
    , m_labelReader(new LabelFileReader(this))
    , m_labelStamps(new LabelFileStamps(this))
    , m_stateTimer(new QTimer(this))
    , m_categories(new DatasetCategories(this))
    , m_pending(new PendingResults(&m_cache, this))
{
    registerAnnotationMetaTypes();
    // Directly, first: the receiver starts on the first image before the session hears of it.
    connect(m_directoryLoader, &DirectoryLoader::firstFound, this, &FolderSession::firstImageListed, Qt::DirectConnection);
    connect(m_directoryLoader, &DirectoryLoader::chunkReady, this, &FolderSession::onChunkReady);
    connect(m_directoryLoader, &DirectoryLoader::firstFound, this, [this](const QString &dir, const QString &path) {
        if (dir != m_dir)
            return;
        m_opening.firstFound = path;
        wantFirstImage();
    });
    connect(m_directoryLoader, &DirectoryLoader::done, this, &FolderSession::onListingDone);
    connect(m_directoryLoader, &DirectoryLoader::undecodableNames, this, &FolderSession::noticeUnlistable);
    connect(m_stateScanner, &FileStateScanner::stateReady, this, &FolderSession::onStateReady);
    connect(m_stateScanner, &FileStateScanner::labelFormatFound, this, &FolderSession::onLabelFormatFound);
    connect(m_stateScanner, &QThread::finished, this, [] { logTiming(QStringLiteral("states done")); });
    connect(m_labelReader, &LabelFileReader::labelsRead, this, &FolderSession::onLabelsRead);
    connect(m_labelStamps, &LabelFileStamps::currentChanged, this, [this] {
        if (!m_currentImage.isEmpty() && !isReadingLabels(m_currentImage) && m_labelStamps->changed(m_currentImage))
            emit currentLabelsChangedElsewhere();
    });
    connect(this, &FolderSession::folderFormatChanged, m_categories,
            [this](LabelFormat format) { m_categories->setLabelmeFolder(format == LabelFormat::Labelme); });
    connect(m_pending, &PendingResults::loaded, this, &FolderSession::onPendingLoaded);
    connect(m_pending, &PendingResults::currentResultsArrived, this, &FolderSession::currentResultsArrived);
    connect(m_pending, &PendingResults::notice, this, &FolderSession::notice);
    connect(m_pending, &PendingResults::written, this, &FolderSession::pendingWritten);
    connect(m_pending, &PendingResults::imagesTouched, this, [this](const QStringList &paths) {
        for (const QString &path : paths)
            refreshImageState(path);
    });
    m_stateTimer->setSingleShot(true);
    m_stateTimer->setInterval(0);
    connect(m_stateTimer, &QTimer::timeout, this, &FolderSession::refreshSomePendingStates);
}

FolderSession::~FolderSession()
{
    m_directoryLoader->requestStop();
    m_stateScanner->requestStop();
}

void FolderSession::setLiveAnnotations(const LiveAnnotations *live)
{
    m_live = live;
    m_pending->setLiveAnnotations(live);
}

void FolderSession::setClassNames(const QStringList &names)
{
    m_categories->history()->rememberFound(names);
}

QStringList FolderSession::classNames() const
{
    return m_categories->rows();
}

void FolderSession::setFallbackFormat(LabelFormat format)
{
    if (format != LabelFormat::Voc && format != LabelFormat::Yolo && format != LabelFormat::Labelme)
        return;
    m_fallbackFormat = format;
    // Before the first folder the fallback is the format; whoever shows it hears of it, as the
    // folder opened next then changes nothing.
    if (m_dir.isEmpty() && m_folderFormat != m_fallbackFormat) {
        m_folderFormat = m_fallbackFormat;
        emit folderFormatChanged(m_folderFormat);
    }
}

void FolderSession::setUseYolo(bool yolo)
{
    setFolderFormat(yolo ? LabelFormat::Yolo : LabelFormat::Voc);
}

void FolderSession::setFolderFormat(LabelFormat format)
{
    m_formatDecided = !m_dir.isEmpty();
    if (format == LabelFormat::None || m_folderFormat == format)
        return;
    m_folderFormat = format;
    emit folderFormatChanged(format);
}

void FolderSession::onLabelFormatFound(const QString &path, LabelFormat format)
{
    if (m_formatDecided || QFileInfo(path).absolutePath() != m_dir || format == LabelFormat::None)
        return;
    m_formatDecided = true;
    if (m_folderFormat == format)
        return;
    m_folderFormat = format;
    emit folderFormatChanged(format);
}

LabelFormat FolderSession::newFileFormat()
{
    if (m_formatDecided || m_dir.isEmpty())
        return m_folderFormat;
    // A save before the scan got that far: the same rule, on this thread.
    const LabelFormat found = firstLabelFormat(m_imagePaths);
    if (found != LabelFormat::None)
        onLabelFormatFound(m_imagePaths.first(), found);
    else if (!m_listing)
        m_formatDecided = true;
    return m_folderFormat;
}

LabelFormat FolderSession::newFileFormatIn(const QString &dir)
{
    if (dir == m_dir)
        return newFileFormat();
    const auto known = m_folderFormats.constFind(dir);
    if (known != m_folderFormats.cend())
        return *known;
    const LabelFormat found = firstLabelFormat(DirectoryLoader::listImages(dir));
    const LabelFormat format = found == LabelFormat::None ? m_fallbackFormat : found;
    m_folderFormats.insert(dir, format);
    return format;
}

qsizetype FolderSession::indexOf(const QString &path) const
{
    // Steps move one place: look next to the last answer before searching ten thousand paths.
    for (qsizetype i = m_indexHint - 1; i <= m_indexHint + 1; ++i) {
        if (i >= 0 && i < m_imagePaths.size() && m_imagePaths.at(i) == path)
            return m_indexHint = i;
    }
    return m_indexHint = m_imagePaths.indexOf(path);
}

QList<Annotation> FolderSession::annotationsFor(const QString &path)
{
    const auto cached = m_cache.constFind(path);
    if (cached != m_cache.constEnd())
        return *cached;
    // Stamped before reading: a change made while reading shows as one on the next look.
    m_labelStamps->remember(path);
    return takeStored(path, readStoredAnnotations(path));
}

bool FolderSession::rereadIfChanged(const QString &path)
{
    if (!m_cache.contains(path) || !m_labelStamps->changed(path))
        return false;
    reread(path);
    return true;
}

void FolderSession::reread(const QString &path)
{
    // The results still pending stay, unless the file holds them now (a run confirmed them).
    QList<Annotation> pending;
    const QList<Annotation> before = m_cache.take(path);
    for (const Annotation &a : before) {
        if (a.pending)
            pending.append(a);
    }
    m_fileNotes.remove(path);
    QList<Annotation> list = annotationsFor(path);
    const OverlapFilterResult kept = filterOverlapping(list, pending);
    list += kept.kept;
    m_cache.insert(path, list);
    if (kept.dropped > 0)
        m_pending->markChanged();
    refreshImageState(path);
}

bool FolderSession::labelFileChangedElsewhere(const QString &path) const
{
    return m_labelStamps->changed(path);
}

QList<Annotation> FolderSession::reloadImage()
{
    const QString path = m_currentImage;
    if (path.isEmpty() || isReadingLabels(path))
        return {};
    // The editor's list, with the results it still holds pending, is what the file is read against.
    m_pending->flush(true);
    reread(path);
    const QList<Annotation> annotations = m_cache.value(path);
    m_pending->enterImage(path, annotations);
    noticeDamage(path);
    return annotations;
}

QList<Annotation> FolderSession::takeStored(const QString &path, const StoredAnnotations &stored)
{
    // Only the label file itself may be moved aside; a names file is the whole dataset's.
    if (!stored.complete() && stored.damagedFile == stored.file)
        m_fileNotes[path].damagedFile = stored.damagedFile;
    else if (!stored.complete())
        m_fileNotes[path].unreadableNames = stored.damagedFile;
    if (!stored.keptShapes.isEmpty() || m_fileNotes.contains(path))
        m_fileNotes[path].keptShapes = stored.keptShapes;
    m_imageStates[path].labelFile = !stored.file.isEmpty();
    m_categories->history()->rememberFound(labelsOf(stored.annotations));
    QList<Annotation> list = stored.annotations;
    list += m_pending->take(path);
    m_cache.insert(path, list);
    return list;
}

QList<Annotation> FolderSession::enterImage(const QString &path)
{
    // While the image was away another program may have rewritten its labels.
    rereadIfChanged(path);
    m_currentImage = path;
    m_labelReader->cancel();
    m_labelStamps->watch(path);
    // The pending file learns of the image when its records are there: until then the editor's
    // empty list is no state of it.
    if (!m_cache.contains(path) && LabelFileReader::isLarge(path)) {
        m_imageStates[path].labelFile = true;
        m_labelStamps->remember(path);
        m_labelReader->read(path);
        logTiming(QStringLiteral("labels read on the worker"));
        return {};
    }
    const QList<Annotation> annotations = annotationsFor(path);
    m_enteredUnlabelled = labelFormatOf(path) == LabelFormat::None;
    m_writtenForCurrent = CheckedMark();
    m_pending->enterImage(path, annotations);
    noticeDamage(path);
    return annotations;
}

bool FolderSession::isReadingLabels(const QString &path) const
{
    return !path.isEmpty() && m_labelReader->readingFor() == path;
}

void FolderSession::onLabelsRead(const QString &path, const StoredAnnotations &stored)
{
    if (path != m_currentImage)
        return;
    // A model's result merged meanwhile read the file already, and holds what it added.
    const QList<Annotation> annotations = m_cache.contains(path) ? m_cache.value(path) : takeStored(path, stored);
    m_pending->enterImage(path, annotations);
    noticeDamage(path);
    emit currentLabelsArrived(annotations);
    refreshImageState(path);
}

void FolderSession::noticeDamage(const QString &path)
{
    const QString names = m_fileNotes.value(path).unreadableNames;
    const QString damaged = m_fileNotes.value(path).damagedFile;
    if (!names.isEmpty()) {
        emit notice(translateText("无法读取类别文件，类别暂以编号显示，此图片不能保存：%1")
                        .arg(QDir::toNativeSeparators(names)));
    } else if (!damaged.isEmpty()) {
        emit notice(translateText("标注文件已损坏，只读出了一部分；保存时原文件会先移入回收站：%1")
                        .arg(QDir::toNativeSeparators(damaged)));
    }
}

QString FolderSession::previousInFolder(const QString &path) const
{
    const qsizetype i = indexOf(path);
    return i > 0 ? m_imagePaths.at(i - 1) : QString();
}

FolderSession::CarriedShapes FolderSession::carryShapes(const QString &source, const QString &target)
{
    CarriedShapes carried;
    if (source.isEmpty())
        return carried;
    const QList<Annotation> records = labelFileRecords(source == m_currentImage && m_live ? m_live->annotations()
                                                                                        : annotationsFor(source));
    if (records.isEmpty())
        return carried;
    // Pixel positions mean nothing on a picture of another size; its proportions do.
    const QSizeF from(imageSize(source));
    const QSizeF to(imageSize(target));
    for (Annotation a : records) {
        a.id = 0;
        if (const std::optional<Annotation> inside = clippedToImage(scaledToImage(a, from, to), to))
            carried.shapes.append(*inside);
        else
            ++carried.outside;
    }
    return carried;
}

void FolderSession::leaveImage()
{
    m_labelReader->cancel();
    m_labelStamps->watch(QString());
    m_currentImage.clear();
    m_pending->leaveImage();
}

bool FolderSession::trashDamagedOriginal(const QString &path)
{
    // Only the image's own label file: a class-names file that cannot be read makes the save refuse.
    const QString damaged = m_fileNotes.value(path).damagedFile;
    if (damaged.isEmpty() || !QFileInfo::exists(damaged)
        || (damaged == dotaLabelPath(path) && dotaRewriteKeepsAll(damaged)))
        return true;
    if (QFile::moveToTrash(damaged))
        return true;
    // Without a trash the original is kept beside itself under a name no reader takes for labels.
    const QString aside = damaged + QStringLiteral(".damaged-")
        + QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    return QFile::rename(damaged, aside);
}

bool FolderSession::saveImage(const QString &path, const QList<Annotation> &annotations, SaveReport *report)
{
    const QList<Annotation> kept = labelFileRecords(annotations);
    m_categories->history()->rememberFound(labelsOf(kept));
    SaveReport own;
    SaveReport &r = report ? *report : own;
    r = SaveReport();
    // Until its labels are read the image's records are not all on screen: a save would drop them.
    if (isReadingLabels(path))
        return false;
    // Another program's labels are not overwritten with an edit of what it replaced.
    if (m_labelStamps->changed(path)) {
        r.changedElsewhere = true;
        return false;
    }
    // Records read with unknown class names hold numbers, not names: they are never written.
    const QString names = m_fileNotes.value(path).unreadableNames;
    if (!names.isEmpty()) {
        r.unreadableNamesFile = names;
        return false;
    }
    // The file the image has decides format and place, taken before a damaged one is moved aside.
    SaveTarget target = editSaveTarget(path, m_folderFormat);
    if (!target.existing && kept.isEmpty()) {
        // A shape drawn and taken back, or results rejected, say nothing about the image.
        m_pending->labelsWritten(path);
        refreshImageState(path);
        flushPending();
        return true;
    }
    if (!target.existing)
        target = editSaveTarget(path, newFileFormatIn(QFileInfo(path).absolutePath()));
    if (!trashDamagedOriginal(path) || !saveEdit(path, kept, target, m_categories->rows(), &r))
        return false;
    m_labelStamps->remember(path);
    noticeNamesFile(r.namesNotice);
    // The shapes we keep as they are stay in the file written.
    if (const auto notes = m_fileNotes.find(path); notes != m_fileNotes.end()) {
        notes->damagedFile.clear();
        notes->unreadableNames.clear();
    }
    m_imageStates[path].labelFile = true;
    if (path == m_currentImage)
        m_writtenForCurrent = {r.labelFile, FileStamp::of(r.labelFile)};
    // Only now may the results decided on leave the pending file.
    m_pending->labelsWritten(path);
    refreshImageState(path);
    flushPending();
    return true;
}

FolderSession::CheckedMark FolderSession::markChecked(const QString &path, SaveReport *report)
{
    SaveReport own;
    SaveReport &r = report ? *report : own;
    r = SaveReport();
    CheckedMark mark;
    if (isReadingLabels(path))
        return mark;
    const QString names = m_fileNotes.value(path).unreadableNames;
    if (!names.isEmpty()) {
        r.unreadableNamesFile = names;
        return mark;
    }
    if (editSaveTarget(path, m_folderFormat).existing)
        return mark;
    const SaveTarget target = editSaveTarget(path, newFileFormatIn(QFileInfo(path).absolutePath()));
    if (!saveEdit(path, {}, target, m_categories->rows(), &r))
        return mark;
    mark.file = r.labelFile;
    mark.stamp = FileStamp::of(mark.file);
    m_labelStamps->remember(path);
    m_imageStates[path].labelFile = true;
    refreshImageState(path);
    return mark;
}

bool FolderSession::restoreUnlabelled(const QString &path, const QList<Annotation> &annotations)
{
    if (path != m_currentImage || !m_enteredUnlabelled || !labelFileRecords(annotations).isEmpty()
        || !unmarkChecked(path, m_writtenForCurrent))
        return false;
    m_writtenForCurrent = CheckedMark();
    m_pending->labelsWritten(path);
    flushPending();
    return true;
}

bool FolderSession::keepsDifficultFlag(const QString &path)
{
    return editSaveTarget(path, newFileFormatIn(QFileInfo(path).absolutePath())).format != LabelFormat::Yolo;
}

QString FolderSession::keypointRowsFile(const QString &path)
{
    // Asked for every image shown: most datasets declare no keypoints, which takes a few stats,
    // while the format of a new file may take a look at every image's labels.
    if (!keypointLayoutFor(labelsDirFor(path)).isPose())
        return QString();
    const SaveTarget target = editSaveTarget(path, newFileFormatIn(QFileInfo(path).absolutePath()));
    if (target.format != LabelFormat::Yolo)
        return QString();
    const KeypointLayout pose = keypointLayoutFor(QFileInfo(target.file).absolutePath());
    return pose.isPose() ? pose.file : QString();
}

bool FolderSession::unmarkChecked(const QString &path, const CheckedMark &mark)
{
    // Only our own empty file, as we left it: anything written since is somebody's labels.
    if (mark.file.isEmpty() || findLabelFile(path).path != mark.file || !mark.stamp.isCurrent())
        return false;
    const QString root = datasetRootOfImageFolder(QFileInfo(path).absolutePath());
    if (!removalStaysInside(mark.file, root) || !QFile::remove(mark.file))
        return false;
    m_imageStates[path].labelFile = false;
    m_labelStamps->remember(path);
    refreshImageState(path);
    return true;
}

void FolderSession::noticeNamesFile(const NamesFileNotice &notice)
{
    // Once per names file and session: the user learns it, repeating it on every save would nag.
    if (notice.isEmpty() || m_namesNoticesShown.contains(notice.namesFile))
        return;
    m_namesNoticesShown.insert(notice.namesFile);
    emit this->notice(translateText("新类别 %1 已写入 %2，请同时把它加入 %3")
                          .arg(notice.missingNames.join(QStringLiteral(", ")),
                               QDir::toNativeSeparators(notice.classListFile),
                               QDir::toNativeSeparators(notice.namesFile)));
}

bool FolderSession::flushPending(bool inBackground)
{
    return m_pending->flush(inBackground);
}

void FolderSession::refreshImageState(const QString &path)
{
    // The editor holds none of the image's records yet: its count would say none.
    if (path.isEmpty() || isReadingLabels(path))
        return;
    ImageState state = m_imageStates.value(path);
    if (path == m_currentImage && m_live) {
        state.confirmed = m_live->confirmedCount();
        state.pending = m_live->pendingCount();
    } else if (const auto cached = m_cache.constFind(path); cached != m_cache.constEnd()) {
        state.confirmed = 0;
        state.pending = 0;
        for (const Annotation &a : *cached)
            ++(a.pending ? state.pending : state.confirmed);
    } else if (m_pending->hasUnmerged(path)) {
        // The confirmed count comes from the state scanner.
        state.pending = m_pending->unmergedCount(path);
    } else {
        return;
    }
    state.known = true;
    m_imageStates.insert(path, state);
    emit imageStateChanged(path, state);
}

void FolderSession::setFailed(const QString &path, bool failed)
{
    if (QFileInfo(path).absolutePath() != m_dir)
        return;   // an image of a folder that is no longer open
    ImageState &state = m_imageStates[path];
    state.failed = failed;
    emit imageStateChanged(path, state);
}

// Confirmed results of a category another tool's class list lacks: that list gains it when the
// owner allows, else they stay pending, as a label file cannot name a class its list lacks.
int FolderSession::holdUnknownCategories(const QString &path, bool inFolder, QList<Annotation> &results)
{
    if (!hasConfirmed(results))
        return 0;
    const SaveTarget target =
        editSaveTarget(path, inFolder ? newFileFormat() : newFileFormatIn(QFileInfo(path).absolutePath()));
    if (target.format != LabelFormat::Yolo)
        return 0;
    const ClassNames names = classNamesFor(path, target.file);
    if (names.source != NamesSource::OtherTool || names.names.isEmpty() || !names.ok)
        return 0;
    QStringList missing;
    for (const Annotation &a : std::as_const(results)) {
        const QString name = classListEntry(a.label);
        if (!a.pending && !name.isEmpty() && !names.names.contains(name) && !missing.contains(name))
            missing.append(name);
    }
    if (missing.isEmpty() || (m_addClasses && appendClassNames(names.file, missing) == NamesAppend::Appended))
        return 0;
    int held = 0;
    for (Annotation &a : results) {
        if (!a.pending && missing.contains(classListEntry(a.label))) {
            a.pending = true;
            ++held;
        }
    }
    return held;
}

FolderSession::MergeOutcome FolderSession::mergeResults(const QString &path, const QList<Annotation> &given)
{
    MergeOutcome out;
    const bool inFolder = QFileInfo(path).absolutePath() == m_dir;
    QList<Annotation> results = given;
    out.unknownCategory = holdUnknownCategories(path, inFolder, results);
    CacheMergeResult merged;
    if (inFolder) {
        m_imageStates[path].failed = false;
        // A stale entry would be written back over another program's labels.
        if (path != m_currentImage)
            rereadIfChanged(path);
        annotationsFor(path);   // the cache entry, with the image's records from the pending file
        merged = mergeIntoCache(m_cache, path, results, newFileFormat(), m_categories->rows());
    } else {
        // Another dataset's class list never starts from this one's categories.
        merged = storeInFolderFiles(path, results, newFileFormatIn(QFileInfo(path).absolutePath()), QStringList());
    }
    out.kept = merged.kept;
    out.dropped = merged.dropped;
    out.saveFailed = merged.writeFailed;
    out.labelsUnreadable = merged.labelsUnreadable;
    out.unreadableNamesFile = merged.unreadableNamesFile;
    out.keypointRowsFile = merged.keypointRowsFile;
    out.outsideImage = merged.outsideImage;
    if (inFolder)
        m_categories->history()->rememberFound(labelsOf(merged.kept));
    if (inFolder && merged.labelsWritten) {
        m_imageStates[path].labelFile = true;
        m_labelStamps->remember(path);
    }
    if (inFolder) {
        if (anyPending(merged.kept))
            m_pending->markChanged();
        refreshImageState(path);
    }
    return out;
}

FolderSession::Removal FolderSession::deleteImage(const QString &path)
{
    Removal removal;
    const qsizetype i = indexOf(path);
    if (m_imagePaths.size() > 1 && i >= 0) {
        const QString candidate = m_imagePaths.at(i + 1 < m_imagePaths.size() ? i + 1 : i - 1);
        if (candidate != path)
            removal.successor = candidate;
    }
    if (!QFile::moveToTrash(path))
        return removal;
    moveLabelFilesToTrash(path);
    removal.removed = true;
    removal.wasCurrent = path == m_currentImage;

    m_imagePaths.removeAll(path);
    m_pending->forget(path);
    m_cache.remove(path);
    m_labelStamps->forget(path);
    m_imageStates.remove(path);
    m_fileNotes.remove(path);
    if (removal.wasCurrent)
        leaveImage();
    flushPending();
    return removal;
}

FolderSession::ConversionSummary FolderSession::convertFolder(LabelFormat to)
{
    ConversionSummary summary;
    for (const QString &path : std::as_const(m_imagePaths)) {
        const LabelConversion done = convertLabelFile(path, to, m_categories->rows());
        if (done.outcome == LabelConversion::Converted)
            ++summary.converted;
        else if (done.outcome == LabelConversion::NoLabels)
            ++summary.withoutLabels;
        else
            summary.failed.append(path);
    }
    setFolderFormat(to);
    return summary;
}

CocoImportSummary FolderSession::importCoco(const CocoDocument &document, bool merge)
{
    flushPending();
    CocoImportOptions options;
    options.merge = merge;
    options.newFileFormat = newFileFormat();
    const CocoImportSummary summary = importCocoInto(document, m_dir, m_imagePaths, options);
    for (const QString &path : summary.written) {
        const QList<Annotation> stored = readStoredAnnotations(path).annotations;
        // A cached entry holds the old stored records: read again, keeping its pending results.
        const auto cached = m_cache.constFind(path);
        if (cached != m_cache.cend()) {
            QList<Annotation> list = stored;
            for (const Annotation &a : *cached) {
                if (a.pending != 0)
                    list.append(a);
            }
            m_cache.insert(path, list);
        }
        m_categories->history()->rememberFound(labelsOf(stored));
        m_imageStates[path].labelFile = true;
        refreshImageState(path);
    }
    return summary;
}

QStringList FolderSession::unlabelledImages() const
{
    QStringList paths;
    for (const QString &path : m_imagePaths) {
        const ImageState state = m_imageStates.value(path);
        // A background image (an empty label file) has been checked: it is not unlabelled.
        const bool unlabelled = state.known ? state.confirmed == 0 && !state.labelFile
                                            : (m_cache.contains(path) ? !state.labelFile : countAnnotations(path) < 0);
        if (unlabelled)
            paths.append(path);
    }
    return paths;
}

QStringList FolderSession::labelledImages() const
{
    // The counts the file list shows, from disk where none is known yet.
    QStringList paths;
    for (const QString &path : m_imagePaths) {
        const ImageState state = m_imageStates.value(path);
        const int count = state.known && path != m_currentImage && !m_cache.contains(path) ? state.confirmed
                                                                                          : countAnnotations(path);
        if (count > 0)
            paths.append(path);
    }
    return paths;
}
