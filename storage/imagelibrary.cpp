#include "storage/imagelibrary.h"

#include <QFileInfo>

ImageLibrary::ImageLibrary(QObject *parent)
    : QObject(parent)
{
}

void ImageLibrary::setDirectory(const QString &dir, const QStringList &files)
{
    m_dir = dir;
    m_files = files;
}

void ImageLibrary::removeFile(const QString &path)
{
    m_files.removeAll(path);
}

QStringList ImageLibrary::imageSuffixes()
{
    return {QStringLiteral("jpg"), QStringLiteral("jpeg"), QStringLiteral("png"), QStringLiteral("bmp"),
            QStringLiteral("webp"), QStringLiteral("tif"), QStringLiteral("tiff")};
}

bool ImageLibrary::isImageFile(const QString &path)
{
    return imageSuffixes().contains(QFileInfo(path).suffix().toLower());
}
