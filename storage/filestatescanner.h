#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Counts the stored annotations of each image for the file list.
// restart() and requestStop() run on the owner's thread; run() only on the worker.
class FileStateScanner : public QThread
{
    Q_OBJECT
public:
    explicit FileStateScanner(QObject *parent = nullptr);
    ~FileStateScanner() override;

    void restart(const QStringList &paths);
    void requestStop();

    QStringList paths() const { return m_paths; }

signals:
    // confirmed: objects in the image's dataset file, 0 when it has none or no file.
    // labelFile: it has one; with 0 objects it is a background image (checked, nothing in it).
    void stateReady(const QString &path, int confirmed, bool labelFile);
    // Once per scan: the first image, in the given order, that has a label file, and its format.
    void labelFormatFound(const QString &path, bool yolo);

protected:
    void run() override;

private:
    QStringList m_paths;
    std::atomic<bool> m_stop{false};
};
