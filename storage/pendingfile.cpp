#include "storage/pendingfile.h"

#include "storage/atomicfile.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/shapekinds.h"
#include "storage/writeguard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSet>

#include <algorithm>

namespace {

// Writes take milliseconds; a holder that keeps the lock this long has hung on a remote disk.
const int kStaleLockMs = 30000;
// A killed holder's lock is taken over at once (its process is gone); a live one is waited for.
// A holder on another host cannot be asked whether it lives: its lock is waited for until it is
// let go or has grown stale, never taken over because the host differs.
const int kLockWaitMs = kStaleLockMs + 5000;

QJsonObject recordToJson(const Annotation &a)
{
    const ShapeKindRules &rules = shapeKindRules(a.kind);
    QJsonObject record{
        {QStringLiteral("c"), a.confidence},
        {QStringLiteral("d"), a.difficult ? 1 : 0},
        {QStringLiteral("l"), a.label},
        {QStringLiteral("t"), QString(rules.pendingTag)},
    };
    if (rules.hasOutline()) {
        QJsonArray flat;
        for (const QPointF &p : a.points) {
            flat.append(p.x());
            flat.append(p.y());
        }
        record.insert(QStringLiteral("p"), flat);
    } else {
        const QRectF &r = a.rect;
        record.insert(QStringLiteral("b"), QJsonArray{r.left(), r.top(), r.right(), r.bottom()});
    }
    return record;
}

Annotation recordFromJson(const QJsonObject &record)
{
    Annotation a;
    a.pending = 1;
    // A tag no kind has is a box, as every record was before outlines came.
    const ShapeKindRules *tagged = shapeKindWithPendingTag(record.value(QStringLiteral("t")).toString());
    a.kind = tagged ? tagged->kind : Annotation::Rect;
    a.label = record.value(QStringLiteral("l")).toString();
    const QJsonValue confidence = record.value(QStringLiteral("c"));
    a.confidence = confidence.isDouble() ? confidence.toDouble() : -1.0;
    const QJsonValue difficult = record.value(QStringLiteral("d"));
    a.difficult = difficult.isDouble() && difficult.toDouble() == 1.0;

    if (tagged && tagged->hasOutline()) {
        const QJsonArray flat = record.value(QStringLiteral("p")).toArray();
        for (qsizetype i = 0; i + 1 < flat.size(); i += 2)
            a.points.append(QPointF(flat.at(i).toDouble(), flat.at(i + 1).toDouble()));
        if (a.points.size() < tagged->minPoints)
            a.kind = Annotation::Rect;
    }
    if (!shapeKindRules(a.kind).hasOutline()) {
        const QJsonValue box = record.value(QStringLiteral("b"));
        const QJsonArray b = box.toArray();
        if (box.isArray() && b.size() == 4)
            a.rect = QRectF(QPointF(b.at(0).toDouble(), b.at(1).toDouble()),
                            QPointF(b.at(2).toDouble(), b.at(3).toDouble()));
    }
    return a;
}

// What a record stores, as bytes: two records are the same result when these are equal.
QByteArray recordKey(const Annotation &a)
{
    return QJsonDocument(recordToJson(a)).toJson(QJsonDocument::Compact);
}

QString folderPrefix(const QString &imageDir)
{
    const QString dir = QDir(imageDir).absolutePath();
    return dir.endsWith(QLatin1Char('/')) ? dir : dir + QLatin1Char('/');
}

// Turns the file's keys into paths of this folder.
class KeyReader
{
public:
    explicit KeyReader(const QString &imageDir)
        : m_prefix(folderPrefix(imageDir))
    {
    }

    // Empty: a key that names nothing inside the folder.
    QString pathOf(const QString &key)
    {
        if (key.isEmpty())
            return QString();
        if (!QDir::isAbsolutePath(key)) {
            const QString relative = QDir::cleanPath(key);
            if (relative == u"." || relative == u".." || relative.startsWith(QLatin1String("../"))
                || QDir::isAbsolutePath(relative))
                return QString();
            return m_prefix + relative;
        }
        const QString path = QDir::cleanPath(key);
        if (path.startsWith(m_prefix))
            return path;
        for (const QString &root : std::as_const(m_oldRoots)) {
            if (path.startsWith(root))
                return m_prefix + path.mid(root.size());
        }
        // The folder was elsewhere when this was written: the longest tail of the key that names a
        // file here tells where, and the other keys of that place follow without asking the disk.
        const QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QString tail = parts.mid(i).join(QLatin1Char('/'));
            if (QFileInfo(m_prefix + tail).isFile()) {
                m_oldRoots.append(QLatin1Char('/') + parts.mid(0, i).join(QLatin1Char('/')) + QLatin1Char('/'));
                return m_prefix + tail;
            }
        }
        return path;   // an image that is not here (any more): its results are dropped by the session
    }

private:
    QString m_prefix;
    QStringList m_oldRoots;
};

QString keyOf(const QString &path, const QString &prefix)
{
    // Paths outside the folder cannot be written relative to it; they keep their absolute form.
    return path.startsWith(prefix) && path.size() > prefix.size() ? path.mid(prefix.size()) : path;
}

QByteArray serialize(const QString &imageDir, const AnnotationCache &cache)
{
    const QString prefix = folderPrefix(imageDir);
    QJsonObject pending;
    for (auto it = cache.cbegin(); it != cache.cend(); ++it) {
        QJsonArray records = pending.value(keyOf(it.key(), prefix)).toArray();
        for (const Annotation &a : it.value()) {
            if (a.pending == 1 && a.hasFiniteGeometry())
                records.append(recordToJson(a));
        }
        if (!records.isEmpty())
            pending.insert(keyOf(it.key(), prefix), records);
    }
    const QJsonObject root{{QStringLiteral("pending"), pending}, {QStringLiteral("version"), 1}};
    return QJsonDocument(root).toJson(QJsonDocument::Compact);
}

enum class Parsed { Ok, Missing, Corrupt, Unreadable };

Parsed parseFile(const QString &imageDir, AnnotationCache *result)
{
    QByteArray bytes;
    const FileRead read = readRegularFile(pendingFilePath(imageDir), &bytes, kPendingFileLimit);
    if (read == FileRead::Missing)
        return Parsed::Missing;
    if (read == FileRead::Unreadable)
        return Parsed::Unreadable;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes);
    if (!doc.isObject())
        return Parsed::Corrupt;

    KeyReader keys(imageDir);
    const QJsonObject pending = doc.object().value(QStringLiteral("pending")).toObject();
    for (auto it = pending.constBegin(); it != pending.constEnd(); ++it) {
        QList<Annotation> records;
        for (const QJsonValue &value : it.value().toArray()) {
            const Annotation a = recordFromJson(value.toObject());
            if (a.hasFiniteGeometry())
                records.append(a);
        }
        const QString path = keys.pathOf(it.key());
        if (records.isEmpty() || path.isEmpty())
            continue;
        const auto named = result->find(path);
        if (named == result->end()) {
            result->insert(path, records);
            continue;
        }
        // An image named twice (an old absolute key beside a new relative one): each result once.
        const QList<Annotation> first = *named;
        for (const Annotation &a : std::as_const(records)) {
            if (!first.contains(a))
                named->append(a);
        }
    }
    return Parsed::Ok;
}

// Reads the file with the stamp it had while being read; a file replaced during the read gets a
// stamp of no file, so that the next sync reads it again.
Parsed readState(const QString &imageDir, PendingFileState *state)
{
    const QString file = pendingFilePath(imageDir);
    Parsed parsed = Parsed::Missing;
    for (int attempt = 0; attempt < 2; ++attempt) {
        state->records.clear();
        const FileStamp before = FileStamp::of(file);
        parsed = parseFile(imageDir, &state->records);
        if (FileStamp::of(file) == before) {
            state->stamp = before;
            return parsed;
        }
    }
    state->stamp = FileStamp();
    return parsed;
}

// How many copies of one record the merge keeps, from the copies in base, ours and theirs.
int mergedCount(int b, int o, int t)
{
    if (o == b)
        return t;
    if (t == b)
        return o;
    if (o > b && t > b)
        return std::max(o, t);   // both added it: once, not twice
    if (o < b && t < b)
        return std::min(o, t);
    return std::max(0, o + t - b);
}

QList<Annotation> pendingOf(const QList<Annotation> &list)
{
    QList<Annotation> pending;
    for (Annotation a : list) {
        if (a.pending == 1 && a.hasFiniteGeometry()) {
            a.id = 0;
            pending.append(a);
        }
    }
    return pending;
}

// Three-way merge of one image's records; fills what ours gains and loses.
QList<Annotation> mergeImage(const QList<Annotation> &base, const QList<Annotation> &ours,
                             const QList<Annotation> &theirs, QList<Annotation> *added, QList<Annotation> *removed)
{
    QHash<QByteArray, int> inBase, inOurs, inTheirs;
    for (const Annotation &a : base)
        ++inBase[recordKey(a)];
    QList<QByteArray> ourKeys, theirKeys;
    for (const Annotation &a : ours) {
        ourKeys.append(recordKey(a));
        ++inOurs[ourKeys.last()];
    }
    for (const Annotation &a : theirs) {
        theirKeys.append(recordKey(a));
        ++inTheirs[theirKeys.last()];
    }
    QHash<QByteArray, int> left;   // copies of each record still to be taken
    const auto wanted = [&](const QByteArray &key) {
        auto it = left.find(key);
        if (it == left.end())
            it = left.insert(key, mergedCount(inBase.value(key), inOurs.value(key), inTheirs.value(key)));
        return it;
    };
    QList<Annotation> merged;
    for (qsizetype i = 0; i < ours.size(); ++i) {
        auto it = wanted(ourKeys.at(i));
        if (*it > 0) {
            --*it;
            merged.append(ours.at(i));
        } else {
            removed->append(ours.at(i));
        }
    }
    for (qsizetype i = 0; i < theirs.size(); ++i) {
        auto it = wanted(theirKeys.at(i));
        if (*it > 0) {
            --*it;
            merged.append(theirs.at(i));
            added->append(theirs.at(i));
        }
    }
    return merged;
}

} // namespace

QString pendingFilePath(const QString &imageDir)
{
    return imageDir + QStringLiteral("/.brindle_pending.json");
}

QString pendingLockPath(const QString &imageDir)
{
    return pendingFilePath(imageDir) + QStringLiteral(".lock");
}

namespace {

// The lock beside the file; false when it cannot be had (a live holder that does not let go, a
// read-only folder, a lock path that is a link out of the dataset).
bool takeLock(QLockFile &lock, const QString &imageDir)
{
    const QString path = pendingLockPath(imageDir);
    if (!writeStaysInside(path, datasetRootOfImageFolder(imageDir)))
        return false;
    // QLockFile reads a lock it finds: a FIFO there would block it for ever, /dev/zero fill memory.
    if (QFileInfo(path).isSymLink() || (QFileInfo::exists(path) && !isRegularFile(path)))
        return false;
    lock.setStaleLockTime(kStaleLockMs);
    return lock.tryLock(kLockWaitMs);
}

// A holder shows it is alive by touching its lock between the steps of a long read-merge-write.
void refreshLock(const QString &imageDir)
{
    QFile lock(pendingLockPath(imageDir));
    if (lock.open(QIODevice::ReadWrite))
        lock.setFileTime(QDateTime::currentDateTimeUtc(), QFileDevice::FileModificationTime);
}

bool writeUnlocked(const QString &imageDir, const AnnotationCache &cache)
{
    return writeFileAtomically(pendingFilePath(imageDir), serialize(imageDir, cache),
                               datasetRootOfImageFolder(imageDir));
}

} // namespace

bool writePendingFile(const QString &imageDir, const AnnotationCache &cache)
{
    QLockFile lock(pendingLockPath(imageDir));
    return takeLock(lock, imageDir) && writeUnlocked(imageDir, cache);
}

AnnotationCache readPendingFile(const QString &imageDir, bool *readable)
{
    return readPendingFileState(imageDir, readable).records;
}

PendingFileState readPendingFileState(const QString &imageDir, bool *readable)
{
    PendingFileState state;
    const Parsed parsed = readState(imageDir, &state);
    if (readable)
        *readable = parsed != Parsed::Unreadable;
    if (parsed == Parsed::Unreadable)
        state.records.clear();
    return state;
}

PendingSync syncPendingFile(const QString &imageDir, const PendingFileState &base, const AnnotationCache &ours,
                            bool write)
{
    PendingSync sync;
    sync.state = base;
    QLockFile lock(pendingLockPath(imageDir));
    if (write && !takeLock(lock, imageDir))
        return sync;

    // Unchanged since base: nothing of another program's to merge.
    PendingFileState theirs = base;
    if (FileStamp::of(pendingFilePath(imageDir)) != base.stamp) {
        PendingFileState read;
        const Parsed parsed = readState(imageDir, &read);
        if (parsed == Parsed::Unreadable)
            return sync;   // it may hold results: never overwritten
        theirs.stamp = read.stamp;
        // A missing or corrupt file tells nothing of another program's decisions.
        if (parsed == Parsed::Ok)
            theirs.records = read.records;
    }

    AnnotationCache merged;
    QSet<QString> images;
    const AnnotationCache &theirRecords = theirs.records;
    for (const AnnotationCache *cache : {&base.records, &ours, &theirRecords}) {
        for (auto it = cache->cbegin(); it != cache->cend(); ++it)
            images.insert(it.key());
    }
    for (const QString &image : std::as_const(images)) {
        QList<Annotation> added, removed;
        const QList<Annotation> records = mergeImage(base.records.value(image), pendingOf(ours.value(image)),
                                                     theirs.records.value(image), &added, &removed);
        if (!records.isEmpty())
            merged.insert(image, records);
        if (!added.isEmpty())
            sync.added.insert(image, added);
        if (!removed.isEmpty())
            sync.removed.insert(image, removed);
    }

    if (!write) {
        sync.ok = true;
        sync.state = theirs;
        return sync;
    }
    // When the write fails, the merge still tells ours what the other program did; the file holds theirs.
    sync.state = theirs;
    refreshLock(imageDir);
    if (!writeUnlocked(imageDir, merged))
        return sync;
    sync.ok = true;
    sync.state.records = merged;
    sync.state.stamp = FileStamp::of(pendingFilePath(imageDir));
    return sync;
}
