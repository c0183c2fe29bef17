#pragma once

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// Counts the saved label files of a folder that hold a category, on a thread of its own, so that
// asking before a category is deleted never freezes the window, however large the folder.
// start() and requestStop() run on the owner's thread; run() only on the worker.
class CategoryUsageCounter : public QThread
{
    Q_OBJECT
public:
    explicit CategoryUsageCounter(QObject *parent = nullptr);
    ~CategoryUsageCounter() override;   // stops and waits

    // Counts the images of paths, except skip, whose label file holds label (exact name).
    void count(const QString &label, const QStringList &paths, const QString &skip);
    void requestStop();

    // The files of one image counted: its label file holds the category.
    static bool fileUses(const QString &imagePath, const QString &label);

signals:
    // Not emitted for a count that was stopped.
    void counted(const QString &label, int files);

protected:
    void run() override;

private:
    QString m_label;
    QStringList m_paths;
    QString m_skip;
    std::atomic<bool> m_stop{false};
};
