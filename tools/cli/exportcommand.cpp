#include "tools/cli/cliio.h"
#include "tools/cli/commands.h"
#include "tools/cli/exportdota.h"

#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/atomicfile.h"
#include "storage/classnames.h"
#include "storage/cocoexport.h"
#include "storage/datasetlayout.h"
#include "storage/directoryloader.h"
#include "storage/filebytes.h"
#include "storage/shapekinds.h"
#include "storage/writeguard.h"
#include "storage/yolofile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

namespace {

const QString exportUsage = QStringLiteral(
    "export --to coco|ultralytics|dota [--val FRACTION] [--seed N] [--output FILE] [--include-unlabelled] DIR");

// The first line of every data.yaml we write: only such a file may be written over.
const QByteArray yamlMarker = "# brindlemark-cli export --to ultralytics";

// Every character at which a line-based reader (Python's splitlines among them) breaks a line.
bool breaksALine(const QString &path)
{
    for (const QChar c : path) {
        switch (c.unicode()) {
        case 0x0a: case 0x0b: case 0x0c: case 0x0d: case 0x1c: case 0x1d: case 0x1e: case 0x85:
        case 0x2028: case 0x2029:
            return true;
        default:
            break;
        }
    }
    return false;
}

// The files an export writes are its own, beside the dataset: never written through a link,
// whether it leads out of the folder, nowhere, or to a file of the user's.
bool refuseLinkedOutput(const QString &path)
{
    if (!QFileInfo(path).isSymLink() && writeStaysInside(path, QFileInfo(path).absolutePath()))
        return false;
    Cli::printError(translateText("不经由链接写入：%1").arg(path));
    return true;
}

// An image without a label file has never been looked at: it is not background.
void reportUnlabelled(const QStringList &images)
{
    for (const QString &image : images)
        Cli::printError(translateText("%1 没有标注文件：作为未标注图片略去（--include-unlabelled 会把它作为背景图片加入）")
                            .arg(image));
}

int exportCocoFile(const QString &dir, const QString &output, bool includeUnlabelled)
{
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(dir, &complete);
    if (complete && Cli::reportNoImages(folders, dir))
        return Cli::UsageError;
    const CocoExport coco = exportCoco(dir, Cli::imagesOf(folders), includeUnlabelled);
    for (const CocoExport::LeftOut &out : coco.leftOut) {
        if (out.damagedFile.isEmpty())
            Cli::printError(translateText("无法读取图片：%1").arg(out.image));
        else
            Cli::printError(translateText("无法完整读取 %1；略去 %2").arg(out.damagedFile, out.image));
    }
    reportUnlabelled(coco.unlabelled);
    const QByteArray json = QJsonDocument(coco.document).toJson(QJsonDocument::Compact) + '\n';
    if (output.isEmpty()) {
        std::fwrite(json.constData(), 1, size_t(json.size()), stdout);
        std::fflush(stdout);
    } else {
        const QString path = Cli::absolutePath(output);
        if (refuseLinkedOutput(path))
            return Cli::ItemFailed;
        if (!writeFileAtomically(path, json, QFileInfo(path).absolutePath())) {
            Cli::printError(translateText("无法写入 %1").arg(path));
            return Cli::ItemFailed;
        }
        Cli::printJson(QJsonObject{
            {QStringLiteral("output"), path},
            {QStringLiteral("images"), coco.imageCount},
            {QStringLiteral("annotations"), coco.annotationCount},
            {QStringLiteral("categories"), coco.categoryCount},
            {QStringLiteral("unlabelled"), int(coco.unlabelled.size())},
        });
    }
    return coco.leftOut.isEmpty() && complete ? Cli::Ok : Cli::ItemFailed;
}

// Where Ultralytics looks for an image's labels: the last "/images/" of the path (case matters)
// turned into "/labels/", the suffix into ".txt".
QString ultralyticsLabelPath(const QString &image)
{
    QString path = image;
    const qsizetype at = path.lastIndexOf(QLatin1String("/images/"));
    if (at >= 0)
        path.replace(at, 8, QStringLiteral("/labels/"));
    return path.left(path.lastIndexOf(QLatin1Char('.'))) + QStringLiteral(".txt");
}

// A double-quoted YAML scalar; escapes what a YAML reader would refuse or strip.
QByteArray yamlString(const QString &text)
{
    QByteArray out = "\"";
    for (const char32_t c : text.toUcs4()) {
        if (c == U'"' || c == U'\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20 || (c >= 0x7f && c <= 0x9f) || (c >= 0xd800 && c <= 0xdfff) || c == 0xfffe
                   || c == 0xffff) {
            out += QStringLiteral("\\u%1").arg(uint(c), 4, 16, QLatin1Char('0')).toLatin1();
        } else {
            out += QString::fromUcs4(&c, 1).toUtf8();
        }
    }
    return out + '"';
}

// A line of an image list. Ultralytics takes a path that starts with "./" as relative to the
// list's folder (it replaces every "./" in it), anything else relative to where training runs:
// images outside the folder, or with "./" further on, get their full path.
QString listLine(const QDir &listDir, const QString &image)
{
    const QString relative = listDir.relativeFilePath(image);
    if (QDir::isAbsolutePath(relative) || relative.startsWith(QLatin1String(".."))
        || relative.contains(QLatin1String("./")))
        return image;
    return QStringLiteral("./") + relative;
}

struct ExportOptions
{
    double valFraction = 0.2;
    bool valGiven = false;
    quint32 seed = 0;
    QString output;
    bool includeUnlabelled = false;
};

enum class Split { None, Train, Val, Test };

// The split an image folder of a dataset root stands for (images/val, obj_train_data...).
Split splitOfFolder(const QString &folder)
{
    const QString name = QFileInfo(folder).fileName().toLower();
    if (name == u"train" || name == u"obj_train_data")
        return Split::Train;
    if (name == u"val" || name == u"valid" || name == u"validation" || name == u"obj_valid_data"
        || name == u"obj_validation_data")
        return Split::Val;
    if (name == u"test" || name == u"obj_test_data")
        return Split::Test;
    return Split::None;
}

struct KeptImage
{
    QString path;
    bool labelled = false;   // false: background
    Split split = Split::None;
};

// data.yaml with train and val (and test) image lists beside it; the labels stay where they are.
int exportUltralytics(const QString &dir, const ExportOptions &options)
{
    bool complete = true;
    const QList<Cli::ImageFolder> folders = Cli::datasetImages(dir, &complete);
    if (complete && Cli::reportNoImages(folders, dir))
        return Cli::UsageError;
    const QStringList images = Cli::imagesOf(folders);
    if (images.isEmpty())
        return Cli::ItemFailed;
    // A dataset root: its folders are its splits.
    const bool fromRoot = folders.size() > 1 || folders.first().dir != dir;

    QStringList problems;
    QStringList unlabelled;
    QList<KeptImage> kept;    // in listing order
    int boxFiles = 0;         // of the labelled images: files with box rows only
    int polygonFiles = 0;     // and files with polygon rows (their boxes as corners)
    int rotatedFiles = 0;     // files with rotated boxes: the dataset is for oriented-box training
    ClassNames names;
    QString namesOf;   // the image whose label file gave the names
    for (const Cli::ImageFolder &folder : folders) {
        const Split split = fromRoot ? splitOfFolder(folder.dir) : Split::None;
        for (const QString &image : folder.images) {
            if (!imageSize(image).isValid()) {
                problems.append(translateText("无法读取图片：%1").arg(image));
                continue;
            }
            if (breaksALine(image)) {
                problems.append(translateText("路径中含换行，无法写入图片列表：%1").arg(image));
                continue;
            }
            const StoredAnnotations stored = readStoredAnnotations(image);
            if (!stored.file.isEmpty() && !stored.file.endsWith(QLatin1String(".txt"))) {
                // Ultralytics finds only txt files where it looks: these would train as background images.
                Cli::printError(translateText("%1 的标注是 %2，Ultralytics 只读 YOLO 标注（请先转换：brindlemark-cli convert --to yolo DIR）")
                                    .arg(image, stored.file.endsWith(QLatin1String(".json"))
                                                    ? QStringLiteral("labelme JSON")
                                                    : QStringLiteral("VOC XML")));
                return Cli::ItemFailed;
            }
            const QString expected = ultralyticsLabelPath(image);
            const bool foundThere =
                !stored.file.isEmpty() && QFileInfo(stored.file).absoluteFilePath() == expected;
            if (!foundThere && QFileInfo::exists(expected)) {
                // A caption or a stale copy where Ultralytics looks would be read as the labels.
                problems.append(translateText("Ultralytics 会把 %1 当作 %2 的标注来读；略去")
                                    .arg(expected, image));
                continue;
            }
            if (stored.file.isEmpty()) {
                if (options.includeUnlabelled)
                    kept.append({image, false, split});
                else
                    unlabelled.append(image);
                continue;
            }
            const ClassNames found = classNamesFor(image, stored.file);
            if (!found.ok) {
                Cli::printError(translateText("无法读取类别表 %1").arg(found.file));
                return Cli::ItemFailed;
            }
            if (found.names.isEmpty()) {
                Cli::printError(translateText("%1 没有类别表（classes.txt、obj.names 或带 names 的 data.yaml）").arg(stored.file));
                return Cli::ItemFailed;
            }
            if (namesOf.isEmpty()) {
                names = found;
                namesOf = image;
            } else if (found.names != names.names) {
                Cli::printError(translateText("%1 和 %2 的类别名来自不同的类别表（%3、%4）")
                                    .arg(namesOf, image, names.file, found.file));
                return Cli::ItemFailed;
            }
            if (!stored.complete()) {
                problems.append(
                    translateText("无法完整读取 %1；略去 %2").arg(stored.damagedFile, image));
                continue;
            }
            if (stored.annotations.isEmpty()) {
                kept.append({image, false, split});
                continue;
            }
            if (!foundThere) {
                problems.append(
                    translateText("Ultralytics 在 %2 找 %1 的标注，它们却在 %3；略去")
                        .arg(image, expected, stored.file));
                continue;
            }
            const YoloRowKinds rows = yoloRowKinds(stored.file);
            // The data.yaml written here declares no kpt_shape: a pose file would be read as outlines.
            if (rows.poses) {
                problems.append(translateText("%1 含有关键点（姿态数据集），这次导出不声明关键点；请用数据集自己的 data.yaml 训练；略去 %2")
                                    .arg(stored.file, image));
                continue;
            }
            if (rows.boxes && rows.polygons) {
                problems.append(translateText("%1 中框的行与多边形的行混在一起，Ultralytics 会把框读成两点的多边形；请重新保存（brindlemark-cli convert --to yolo IMAGE）；略去 %2")
                                    .arg(stored.file, image));
                continue;
            }
            QString outside;
            for (const Annotation &a : stored.annotations) {
                bool isNumber = false;
                const int index = a.label.toInt(&isNumber);
                if (isNumber && !names.names.contains(a.label) && (index < 0 || index >= names.names.size()))
                    outside = a.label;
            }
            if (!outside.isEmpty()) {
                problems.append(translateText("%1 用到类别 %2，类别表 %3 中没有它；略去 %4")
                                    .arg(stored.file, outside, names.file, image));
                continue;
            }
            kept.append({image, true, split});
            boxFiles += rows.boxes ? 1 : 0;
            polygonFiles += rows.polygons ? 1 : 0;
            const bool turned = std::any_of(stored.annotations.cbegin(), stored.annotations.cend(),
                                            [](const Annotation &a) { return storedShapeKind(a).angle != nullptr; });
            rotatedFiles += turned ? 1 : 0;
        }
    }
    for (const QString &problem : std::as_const(problems))
        Cli::printError(problem);
    reportUnlabelled(unlabelled);

    // The dataset's own split unless --val asks for a new one; test images never join training.
    const auto hasSplit = [&](Split split) {
        return std::any_of(folders.cbegin(), folders.cend(), [&](const Cli::ImageFolder &folder) {
            return fromRoot && splitOfFolder(folder.dir) == split;
        });
    };
    const bool ownSplit = !options.valGiven && hasSplit(Split::Train) && hasSplit(Split::Val);
    qsizetype labelledCount = 0;   // of the images split at random
    qsizetype labelledTrain = 0;   // in the dataset's own train split
    for (const KeptImage &k : std::as_const(kept)) {
        if (k.labelled && k.split != Split::Test)
            ++labelledCount;
        if (k.labelled && k.split == Split::Train)
            ++labelledTrain;
    }
    QList<Split> listOf(kept.size(), Split::Train);
    for (qsizetype i = 0; i < kept.size(); ++i) {
        if (kept.at(i).split == Split::Test || (ownSplit && kept.at(i).split == Split::Val))
            listOf[i] = kept.at(i).split;
    }
    if (ownSplit) {
        if (labelledTrain < 1 || !listOf.contains(Split::Val)) {
            Cli::printError(translateText("%1：训练集需要一张已标注图片，验证集需要一张 Ultralytics 能读的图片（--val 会重新划分）")
                                .arg(dir));
            return Cli::ItemFailed;
        }
    } else {
        if (labelledCount < 2) {
            Cli::printError(translateText("%1 中 Ultralytics 能读的已标注图片：%2 张；划分训练集和验证集至少需要 2 张")
                                .arg(dir, QString::number(labelledCount)));
            return Cli::ItemFailed;
        }
        // By image, at random but repeatable: the seed fixes the split. Background stays in train.
        const qsizetype valCount = qBound<qsizetype>(
            1, qsizetype(std::llround(double(labelledCount) * options.valFraction)), labelledCount - 1);
        QList<qsizetype> order;
        for (qsizetype i = 0; i < kept.size(); ++i) {
            if (kept.at(i).labelled && kept.at(i).split != Split::Test)
                order.append(i);
        }
        QRandomGenerator random(options.seed);
        for (qsizetype i = order.size() - 1; i > 0; --i)
            std::swap(order[i], order[qsizetype(random.bounded(quint32(i + 1)))]);
        for (qsizetype i = 0; i < valCount; ++i)
            listOf[order.at(i)] = Split::Val;
    }
    const bool withTest = listOf.contains(Split::Test);

    const QString yamlPath = options.output.isEmpty()
        ? datasetRootFor(labelsDirFor(images.first())) + QStringLiteral("/data.yaml")
        : Cli::absolutePath(options.output);
    const QDir listDir = QFileInfo(yamlPath).absoluteDir();
    const QString trainPath = listDir.filePath(QStringLiteral("train.txt"));
    const QString valPath = listDir.filePath(QStringLiteral("val.txt"));
    const QString testPath = listDir.filePath(QStringLiteral("test.txt"));
    QStringList outputs{yamlPath, trainPath, valPath};
    if (withTest)
        outputs.append(testPath);
    for (const QString &path : std::as_const(outputs)) {
        if (refuseLinkedOutput(path))
            return Cli::ItemFailed;
    }
    // In a flat folder a list would land where an image's label file goes (train.png's train.txt).
    for (const QString &image : images) {
        const QString labels = ultralyticsLabelPath(image);
        if (outputs.mid(1).contains(labels)) {
            Cli::printError(translateText("%1 是 %2 的标注文件的位置；请用 --output 另选文件夹")
                                .arg(labels, image));
            return Cli::ItemFailed;
        }
    }
    // Another tool's data.yaml or image lists are never written over; our own are.
    bool ours = false;
    if (QFileInfo::exists(yamlPath)) {
        QByteArray head;
        ours = readFileHead(yamlPath, &head, yamlMarker.size() + 2) == FileRead::Ok
            && (head.startsWith(yamlMarker + '\n') || head.startsWith(yamlMarker + "\r\n"));
        if (!ours) {
            Cli::printError(translateText("%1 已存在且不是 brindlemark-cli 写的；请用 --output 另选文件").arg(yamlPath));
            return Cli::ItemFailed;
        }
    }
    for (const QString &list : outputs.mid(1)) {
        if (!ours && QFileInfo::exists(list)) {
            Cli::printError(translateText("%1 已存在且不是 brindlemark-cli 写的；请用 --output 另选文件夹").arg(list));
            return Cli::ItemFailed;
        }
    }

    QByteArray train;
    QByteArray val;
    QByteArray test;
    for (qsizetype i = 0; i < kept.size(); ++i) {
        QByteArray &list = listOf.at(i) == Split::Val ? val : listOf.at(i) == Split::Test ? test : train;
        list += listLine(listDir, kept.at(i).path).toUtf8() + '\n';
    }

    QByteArray yaml = yamlMarker + '\n';
    // The file is the same for every task; oriented boxes are trained by the obb task.
    if (rotatedFiles > 0)
        yaml += "# oriented boxes (class x1 y1 x2 y2 x3 y3 x4 y4): yolo obb train data=<this file>\n";
    yaml += "path: " + yamlString(listDir.absolutePath()) + '\n';
    yaml += "train: train.txt\n";
    yaml += "val: val.txt\n";
    if (withTest)
        yaml += "test: test.txt\n";
    yaml += "names:\n";
    for (const QString &name : classListLines(names.names))
        yaml += "  - " + yamlString(name) + '\n';

    // All written before any replaces its file, the lists first: a full disk leaves the old
    // files, and a data.yaml never names a list that is not there.
    PreparedFile trainFile(trainPath, listDir.absolutePath());
    PreparedFile valFile(valPath, listDir.absolutePath());
    PreparedFile testFile(testPath, listDir.absolutePath());
    PreparedFile yamlFile(yamlPath, listDir.absolutePath());
    QList<std::pair<PreparedFile *, const QByteArray *>> files{{&trainFile, &train}, {&valFile, &val}};
    if (withTest)
        files.append({&testFile, &test});
    files.append({&yamlFile, &yaml});
    for (const auto &[file, content] : std::as_const(files)) {
        if (!file->prepare(*content)) {
            Cli::printError(translateText("无法在 %1 中写入").arg(listDir.absolutePath()));
            return Cli::ItemFailed;
        }
    }
    for (const auto &[file, content] : std::as_const(files)) {
        if (!file->commit()) {
            Cli::printError(translateText("无法在 %1 中写入").arg(listDir.absolutePath()));
            return Cli::ItemFailed;
        }
    }
    // Oriented-box training reads every row as four corners: a file of plain box rows or of
    // polygons would stop it.
    const qsizetype labelledFiles =
        std::count_if(kept.cbegin(), kept.cend(), [](const KeptImage &k) { return k.labelled; });
    if (rotatedFiles > 0 && rotatedFiles < labelledFiles)
        Cli::printError(translateText("注意：%1 个标注文件含旋转框，%2 个不含；`yolo obb train` 只读四个角点的行：请把它们的形状改成旋转框")
                            .arg(rotatedFiles)
                            .arg(labelledFiles - rotatedFiles));
    // Ultralytics counts boxes and polygons over the whole dataset: for segmentation it keeps the
    // polygons only when every object has one. Detection training reads both.
    else if (boxFiles > 0 && polygonFiles > 0)
        Cli::printError(translateText("注意：%1 个标注文件只含框，%2 个含多边形；`yolo detect train` 全都读，`yolo segment train` 会丢掉所有多边形")
                            .arg(boxFiles)
                            .arg(polygonFiles));
    const qsizetype background = std::count_if(kept.cbegin(), kept.cend(), [](const KeptImage &k) {
        return !k.labelled;
    });
    QJsonObject summary{
        {QStringLiteral("output"), yamlPath},
        {QStringLiteral("images"), int(kept.size())},
        {QStringLiteral("train"), int(listOf.count(Split::Train))},
        {QStringLiteral("val"), int(listOf.count(Split::Val))},
        {QStringLiteral("background"), int(background)},
        {QStringLiteral("unlabelled"), int(unlabelled.size())},
        {QStringLiteral("classes"), int(names.names.size())},
        {QStringLiteral("rotated"), rotatedFiles},
    };
    if (withTest)
        summary.insert(QStringLiteral("test"), int(listOf.count(Split::Test)));
    Cli::printJson(summary);
    return problems.isEmpty() && complete ? Cli::Ok : Cli::ItemFailed;
}

} // namespace

int runExportCommand(const QStringList &args)
{
    QString error;
    const QList<Cli::Argument> arguments = Cli::splitArguments(
        args, {QStringLiteral("--to"), QStringLiteral("--output"), QStringLiteral("--val"), QStringLiteral("--seed")},
        {QStringLiteral("--include-unlabelled")}, &error);
    if (!error.isEmpty()) {
        Cli::printError(error);
        return Cli::usage(exportUsage);
    }
    QString format;
    ExportOptions options;
    bool splitOptions = false;
    QStringList dirs;
    for (const Cli::Argument &a : arguments) {
        bool ok = true;
        if (a.isWord()) {
            dirs.append(a.value);
        } else if (a.name == u"--include-unlabelled") {
            options.includeUnlabelled = true;
        } else if (a.value.isEmpty()) {
            ok = false;
        } else if (a.name == u"--to") {
            format = a.value;
        } else if (a.name == u"--output") {
            options.output = a.value;
        } else if (a.name == u"--val") {
            options.valFraction = a.value.toDouble(&ok);
            ok = ok && options.valFraction > 0.0 && options.valFraction < 1.0;
            options.valGiven = true;
            splitOptions = true;
        } else {
            options.seed = a.value.toUInt(&ok);
            splitOptions = true;
        }
        if (!ok) {
            Cli::printError(translateText("%1 的值无效：%2").arg(a.name, a.value));
            return Cli::usage(exportUsage);
        }
    }
    const bool ultralytics = format == u"ultralytics";
    const bool dota = format == u"dota";
    if ((format != u"coco" && !ultralytics && !dota) || (splitOptions && !ultralytics) || dirs.size() != 1)
        return Cli::usage(exportUsage);
    if (!QFileInfo(dirs.first()).isDir()) {
        Cli::printError(translateText("不是目录：%1").arg(dirs.first()));
        return Cli::ItemFailed;
    }

    const QString dir = QDir(dirs.first()).absolutePath();
    if (dota)
        return exportDotaFolder(dir, options.output, options.includeUnlabelled);
    return ultralytics ? exportUltralytics(dir, options) : exportCocoFile(dir, options.output, options.includeUnlabelled);
}
