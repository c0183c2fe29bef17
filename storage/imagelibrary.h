#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

// The opened image directory and its files in listing order; plus which file names are images.
class ImageLibrary : public QObject
{
    Q_OBJECT
public:
    explicit ImageLibrary(QObject *parent = nullptr);

    QString dir() const { return m_dir; }
    QStringList files() const { return m_files; }

    void setDirectory(const QString &dir, const QStringList &files);
    void removeFile(const QString &path);

    // "jpg", "jpeg", "png", "bmp", "webp", "tif", "tiff", in this order.
    static QStringList imageSuffixes();
    static bool isImageFile(const QString &path);

private:
    QString m_dir;
    QStringList m_files;
};
