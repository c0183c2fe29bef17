#include "session/datasetcategories.h"

#include "session/categoryhistory.h"
#include "session/categoryorder.h"
#include "session/categoryusagecounter.h"
#include "storage/classnames.h"
#include "storage/datasetlayout.h"
#include "storage/labelmefile.h"
#include "storage/namesfileappend.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>

namespace {

QSettings store()
{
    return QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
}

const QString kLabelsDataset = QStringLiteral("labelsDataset");

// A hash: "/" separates groups and the store may fold case.
QString settingsKey(const QString &dataset)
{
    return QStringLiteral("datasetCategories/")
        + QString::fromLatin1(QCryptographicHash::hash(dataset.toUtf8(), QCryptographicHash::Sha1).toHex());
}

void storeNames(const QString &dataset, const QStringList &labels, const QStringList &deleted)
{
    QSettings s = store();
    s.setValue(settingsKey(dataset) + QStringLiteral("/labels"), labels);
    if (deleted.isEmpty())
        s.remove(settingsKey(dataset) + QStringLiteral("/deleted"));
    else
        s.setValue(settingsKey(dataset) + QStringLiteral("/deleted"), deleted);
}

} // namespace

DatasetCategories::DatasetCategories(QObject *parent)
    : QObject(parent)
    , m_history(new CategoryHistory(QStringList(), this))
    , m_usageCounter(new CategoryUsageCounter(this))
{
    m_history->setStoring(false);
    connect(m_usageCounter, &CategoryUsageCounter::counted, this, [this](const QString &label, int files) {
        if (label != m_countedLabel)
            return;   // a count asked for before another one
        m_countedLabel.clear();
        emit usageCounted(label, files);
    });
}

DatasetCategories::~DatasetCategories()
{
    if (m_stored && !m_dataset.isEmpty())
        storeNames(m_dataset, m_history->labels(), m_history->deletedList());
}

void DatasetCategories::restoreStored(const QStringList &labels, const QStringList &deleted)
{
    m_stored = true;
    // What was just read needs no writing back.
    m_history->reset(labels, deleted);
    m_history->setStoring(true);
}

void DatasetCategories::storeDataset()
{
    if (!m_stored)
        return;
    if (m_holdDatasetStore)
        m_datasetUnstored = true;
    else
        store().setValue(kLabelsDataset, m_dataset);
}

void DatasetCategories::holdDatasetStore(bool hold)
{
    m_holdDatasetStore = hold;
    if (!hold && m_datasetUnstored) {
        m_datasetUnstored = false;
        storeDataset();
    }
}

void DatasetCategories::openFolder(const QString &imageDir)
{
    const QString dataset = QDir::cleanPath(datasetRootOfImageFolder(imageDir));
    if (dataset == m_dataset)
        return;
    m_classList.clear();
    m_classListDir.clear();
    const Names current{m_history->labels(), m_history->deletedList()};
    if (!m_claimed) {
        // The names held before any folder was opened: the settings' (or the command line's).
        m_claimed = true;
        const QString owner = m_stored ? store().value(kLabelsDataset).toString() : QString();
        if (owner.isEmpty() || owner == dataset) {
            m_dataset = dataset;
            if (owner.isEmpty())
                storeDataset();   // the settings file is written only for a change
            return;
        }
        m_dataset = owner;
    }
    if (!m_dataset.isEmpty()) {
        m_left.insert(m_dataset, current);
        if (m_stored)
            storeNames(m_dataset, current.labels, current.deleted);
    }
    Names next = m_left.value(dataset);
    if (!m_left.contains(dataset) && m_stored) {
        const QSettings s = store();
        next.labels = s.value(settingsKey(dataset) + QStringLiteral("/labels")).toStringList();
        next.deleted = s.value(settingsKey(dataset) + QStringLiteral("/deleted")).toStringList();
    }
    m_dataset = dataset;
    storeDataset();
    m_history->reset(next.labels, next.deleted);
}

bool DatasetCategories::showImage(const QString &imagePath, bool reread)
{
    const QString dir = imagePath.isEmpty() ? QString() : labelsDirFor(imagePath);
    if (!reread && dir == m_classListDir)
        return false;
    m_classListDir = dir;
    m_classListImage = imagePath;
    const ClassNames found = dir.isEmpty() ? ClassNames() : findClassNames(dir);
    m_namesFile = found.source == NamesSource::OtherTool && found.ok && !found.names.isEmpty() ? found.file : QString();
    QStringList classes = datasetClassList(imagePath);
    if (classes.isEmpty() && m_labelme && found.source == NamesSource::None && !imagePath.isEmpty())
        classes = labelmeLabelList(QFileInfo(imagePath).absolutePath());
    if (classes == m_classList)
        return false;
    m_classList = classes;
    return true;
}

void DatasetCategories::setLabelmeFolder(bool labelme)
{
    if (m_labelme == labelme)
        return;
    m_labelme = labelme;
    if (!m_classListImage.isEmpty() && showImage(m_classListImage, true))
        emit classListChanged();
}

QStringList DatasetCategories::lackedByNamesFile(const QStringList &labels) const
{
    QStringList lacked;
    if (m_namesFile.isEmpty())
        return lacked;
    for (const QString &label : labels) {
        const QString name = classListEntry(label);
        if (!name.isEmpty() && !m_classList.contains(name) && !lacked.contains(name))
            lacked.append(name);
    }
    return lacked;
}

bool DatasetCategories::addToNamesFile(const QStringList &labels)
{
    if (m_namesFile.isEmpty() || appendClassNames(m_namesFile, labels) != NamesAppend::Appended)
        return false;
    showImage(m_classListImage, true);
    return true;
}

QStringList DatasetCategories::rows() const
{
    QStringList rows = categoryOrder(m_classList, m_history->labels());
    // Deleted categories leave the list even where the dataset's class list names them.
    const QStringList used = m_history->labels();
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [&](const QString &name) { return m_history->isDeleted(name) && !used.contains(name); }),
               rows.end());
    return rows;
}

QStringList DatasetCategories::checkedClasses() const
{
    return m_classList.isEmpty() ? m_history->labels() : m_classList;
}

void DatasetCategories::countUsage(const QString &label, const QStringList &paths, const QString &skip)
{
    m_countedLabel = label;
    m_usageCounter->count(label, paths, skip);
}

void DatasetCategories::stopCounting()
{
    m_countedLabel.clear();
    m_usageCounter->requestStop();
}
