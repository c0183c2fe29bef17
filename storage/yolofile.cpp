#include "storage/yolofile.h"

#include "storage/datasetlayout.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPolygonF>
#include <QSaveFile>
#include <QTextStream>

#include <algorithm>
#include <cmath>

namespace {

// Non-numbers (and inf/nan, which would poison every later computation) count as 0.
// Plain ASCII numbers parse from bytes: QString::toDouble costs several times more, and a
// label file is mostly numbers. Whatever the byte parser refuses gets the full parser.
double numberOrZero(const QString &text)
{
    bool ok = false;
    double value = text.toLatin1().toDouble(&ok);
    if (!ok)
        value = text.toDouble(&ok);
    return ok && std::isfinite(value) ? value : 0.0;
}

void appendNumber(QByteArray &line, double value)
{
    line += ' ';
    line += QByteArray::number(value, 'f', 6);
}

// The name as "classes.txt" reads it back (one trimmed line); anything else would shift the
// index of every later class. Empty when nothing of the label survives.
QString className(const QString &label)
{
    QString name = label;
    name.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    return name.trimmed();
}

int classIndexFor(const QString &label, QStringList &classes)
{
    const qsizetype at = classes.indexOf(label);
    if (at >= 0)
        return int(at);
    // A bare number is a class index of its own (a class past the list survives a round trip).
    const auto isDigit = [](QChar c) { return c >= u'0' && c <= u'9'; };
    if (!label.isEmpty() && std::all_of(label.cbegin(), label.cend(), isDigit)) {
        bool ok = false;
        const int number = label.toInt(&ok);
        if (ok)
            return number;
    }
    classes.append(label);
    return int(classes.size() - 1);
}

QByteArray lineFor(const Annotation &a, int classIndex, double w, double h)
{
    QByteArray line = QByteArray::number(classIndex);
    if (a.isPolygon()) {
        for (const QPointF &p : a.points) {
            appendNumber(line, qBound(0.0, p.x(), w) / w);
            appendNumber(line, qBound(0.0, p.y(), h) / h);
        }
    } else {
        const QRectF &r = a.rect;
        appendNumber(line, (r.left() + r.right()) / 2.0 / w);
        appendNumber(line, (r.top() + r.bottom()) / 2.0 / h);
        appendNumber(line, r.width() / w);
        appendNumber(line, r.height() / h);
    }
    line += '\n';
    return line;
}

bool parseLine(const QString &rawLine, const QStringList &classes, double w, double h, Annotation &out)
{
    const QStringList fields = rawLine.trimmed().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 5)
        return false;
    bool ok = false;
    const int classIndex = fields.first().toInt(&ok, 10);
    if (!ok)
        return false;

    Annotation a;
    a.label = classIndex >= 0 && classIndex < classes.size() ? classes.at(classIndex)
                                                             : QString::number(classIndex);
    if (fields.size() <= 6) {
        const double cx = numberOrZero(fields.at(1));
        const double cy = numberOrZero(fields.at(2));
        const double bw = numberOrZero(fields.at(3));
        const double bh = numberOrZero(fields.at(4));
        a.rect = QRectF(w * cx - w * bw * 0.5, h * cy - h * bh * 0.5, w * bw, h * bh);
        if (fields.size() == 6) {
            const double confidence = numberOrZero(fields.at(5));
            if (confidence > 0)
                a.confidence = confidence;
        }
        out = a;
        return true;
    }

    const qsizetype n = fields.size() - 1;
    for (qsizetype i = 0; i + 1 < n; i += 2) {
        const double x = qBound(0.0, numberOrZero(fields.at(1 + i)) * w, w);
        const double y = qBound(0.0, numberOrZero(fields.at(2 + i)) * h, h);
        a.points.append(QPointF(x, y));
    }
    if (a.points.size() <= 2)
        return false;
    a.kind = Annotation::Polygon;
    a.rect = QPolygonF(a.points).boundingRect();
    if (n % 2 == 1) {
        const double confidence = numberOrZero(fields.last());
        if (confidence > 0)
            a.confidence = confidence;
    }
    out = a;
    return true;
}

} // namespace

QList<Annotation> readYoloFile(const QString &imagePath, const QString &labelPath)
{
    QFile file(labelPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};

    QStringList classes = readClassList(QFileInfo(labelPath).absolutePath());
    if (classes.isEmpty() && labelPath != yoloLabelPath(imagePath))
        classes = readClassList(labelsDirFor(imagePath));

    const QSize size = imageSize(imagePath);
    if (size.width() < 1 || size.height() < 1)
        return {};
    const double w = size.width();
    const double h = size.height();

    QList<Annotation> result;
    QTextStream in(&file);
    QString line;
    while (in.readLineInto(&line)) {
        Annotation a;
        if (parseLine(line, classes, w, h, a))
            result.append(a);
    }
    return result;
}

bool writeYoloFile(const QString &imagePath, const QList<Annotation> &annotations,
                   const QStringList &classNames)
{
    const QString labelsDir = labelsDirFor(imagePath);
    QDir().mkpath(labelsDir);

    const QSize size = imageSize(imagePath);
    if (size.width() < 1 || size.height() < 1)
        return false;

    QSaveFile file(yoloLabelPath(imagePath));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;

    QStringList classes = readClassList(labelsDir);
    if (classes.isEmpty()) {
        for (const QString &name : classNames) {
            if (!className(name).isEmpty())
                classes.append(className(name));
        }
    }

    QByteArray content;
    for (const Annotation &a : annotations) {
        const QString name = className(a.label);
        if (name.isEmpty())
            continue;
        const int classIndex = classIndexFor(name, classes);
        content += lineFor(a, classIndex, size.width(), size.height());
    }

    if (file.write(content) != content.size() || !writeClassList(imagePath, classes)) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

int countYoloLines(const QString &labelPath)
{
    QFile file(labelPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    int count = 0;
    const QByteArray all = file.readAll();
    for (const QByteArray &line : all.split('\n')) {
        if (!line.trimmed().isEmpty())
            ++count;
    }
    return count;
}
