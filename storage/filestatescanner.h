#pragma once

#include <QString>
#include <QStringList>
#include "storage/annotationstore.h"
#include "storage/restartableworker.h"

// Counts the stored annotations of each image for the file list, on a worker thread.
class FileStateScanner : public RestartableWorker<QStringList>
{
    Q_OBJECT
public:
    explicit FileStateScanner(QObject *parent = nullptr);
    // The job runs this class's members: it must end before they are gone.
    ~FileStateScanner() override { stop(); }

    // Ends the running scan, then scans paths.
    void restart(const QStringList &paths) { RestartableWorker::restart(paths); }

    QStringList paths() const { return input(); }

signals:
    // confirmed: objects in the image's dataset file, 0 when it has none or no file.
    // labelFile: it has one; with 0 objects it is a background image (checked, nothing in it).
    void stateReady(const QString &path, int confirmed, bool labelFile);
    // Once per scan: the first image, in the given order, that has a label file, and its format.
    void labelFormatFound(const QString &path, LabelFormat format);

private:
    void scan(const QStringList &paths);
};
