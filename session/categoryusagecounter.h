#pragma once

#include "storage/restartableworker.h"

#include <QString>
#include <QStringList>

// Counts the saved label files of a folder that hold a category, on a thread of its own, so that
// asking before a category is deleted never freezes the window, however large the folder.
struct CategoryUsageQuery
{
    QString label;
    QStringList paths;
    QString skip;
};

class CategoryUsageCounter : public RestartableWorker<CategoryUsageQuery>
{
    Q_OBJECT
public:
    explicit CategoryUsageCounter(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~CategoryUsageCounter() override { stop(); }

    // Counts the images of paths, except skip, whose label file holds label (exact name).
    void count(const QString &label, const QStringList &paths, const QString &skip)
    {
        restart({label, paths, skip});
    }

    // The files of one image counted: its label file holds the category.
    static bool fileUses(const QString &imagePath, const QString &label);

signals:
    // Not emitted for a count that was stopped.
    void counted(const QString &label, int files);

private:
    void countFiles(const CategoryUsageQuery &query);
};
