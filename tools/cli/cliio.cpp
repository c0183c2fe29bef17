#include "tools/cli/cliio.h"

#include "session/imagesubfolders.h"
#include "shared/language.h"
#include "storage/directoryloader.h"

#include <QDir>

#include <QFileInfo>
#include <QJsonDocument>
#include <QUrl>

#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace Cli {

namespace {

void writeOut(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void printLine(const QString &line)
{
    writeOut(stdout, line.toUtf8() + '\n');
}

void printJson(const QJsonObject &object)
{
    writeOut(stdout, QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n');
}

void printError(const QString &message)
{
    writeOut(stderr, "brindlemark-cli: " + message.toUtf8() + '\n');
}

int usage(const QString &usage)
{
    writeOut(stderr, translateText("用法：brindlemark-cli %1").arg(usage).toUtf8() + '\n');
    return UsageError;
}

bool readStandardInput(QByteArray *bytes)
{
    bytes->clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes->append(buffer, qsizetype(n));
    }
}

QString absolutePath(const QString &path)
{
    return QFileInfo(path).absoluteFilePath();
}

QList<Argument> splitArguments(const QStringList &args, const QStringList &valueOptions,
                               const QStringList &flags, QString *error)
{
    QList<Argument> out;
    bool optionsEnded = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args.at(i);
        if (optionsEnded || !arg.startsWith(QLatin1Char('-')) || arg == u"-") {
            out.append({QString(), arg});
            continue;
        }
        if (arg == u"--") {
            optionsEnded = true;
            continue;
        }
        const qsizetype eq = arg.indexOf(QLatin1Char('='));
        const QString name = eq > 0 ? arg.left(eq) : arg;
        if (flags.contains(name)) {
            if (eq > 0) {
                *error = translateText("%1 不接受值").arg(name);
                return {};
            }
            out.append({name, QString()});
        } else if (valueOptions.contains(name)) {
            if (eq > 0) {
                out.append({name, arg.mid(eq + 1)});
            } else if (i + 1 < args.size()) {
                out.append({name, args.at(++i)});
            } else {
                *error = translateText("%1 需要一个值").arg(name);
                return {};
            }
        } else {
            *error = translateText("未知选项：%1").arg(name);
            return {};
        }
    }
    return out;
}

QStringList classList(const QString &value)
{
    QStringList names;
    for (const QString &name : value.split(QLatin1Char(','))) {
        if (!name.trimmed().isEmpty())
            names.append(name.trimmed());
    }
    return names;
}

QString serverBaseUrl(const QString &value)
{
    QString base = value.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != u"http" && scheme != u"https") || url.host().isEmpty())
        return QString();
    return base;
}

bool parseInt(const QString &text, int low, int high, int &value)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < low || v > high)
        return false;
    value = v;
    return true;
}

} // namespace Cli

QStringList Cli::listImages(const QString &dir, bool *complete)
{
    QStringList unlistable;
    const QStringList images = DirectoryLoader::listImages(dir, &unlistable);
    reportUnlistable(unlistable);
    if (complete)
        *complete = unlistable.isEmpty();
    return images;
}

void Cli::reportUnlistable(const QStringList &names)
{
    // No path would open them: named with the bytes that are not UTF-8 escaped.
    for (const QString &name : names)
        printError(translateText("%1：文件名不是有效的 UTF-8，请重命名").arg(name));
}

QList<Cli::ImageFolder> Cli::datasetImages(const QString &dir, bool *complete)
{
    // Enough for every split of a dataset; the window shows fewer buttons.
    constexpr int kMaxSubfolders = 64;
    const QString absolute = QDir(dir).absolutePath();
    bool listed = true;
    QList<ImageFolder> folders{{absolute, listImages(absolute, &listed)}};
    if (folders.first().images.isEmpty()) {
        folders.clear();
        for (const QString &sub : imageSubfolders(absolute, kMaxSubfolders)) {
            bool subListed = true;
            folders.append({QDir(sub).absolutePath(), listImages(sub, &subListed)});
            listed = listed && subListed;
        }
    }
    if (complete)
        *complete = listed;
    return folders;
}

QStringList Cli::imagesOf(const QList<ImageFolder> &folders)
{
    QStringList images;
    for (const ImageFolder &folder : folders)
        images += folder.images;
    return images;
}

bool Cli::reportNoImages(const QList<ImageFolder> &folders, const QString &dir)
{
    for (const ImageFolder &folder : folders) {
        if (!folder.images.isEmpty())
            return false;
    }
    printError(translateText("%1 中没有图片").arg(dir));
    return true;
}
