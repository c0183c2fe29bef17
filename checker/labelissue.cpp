#include "checker/labelissue.h"

#include "shared/language.h"
#include "storage/filebytes.h"
#include "storage/readproblem.h"

#include <QDir>

#include <algorithm>

namespace {

// Fills %1..%9 in one pass, so that a value that itself contains "%2" stays as it is.
QString fill(const QString &text, const QStringList &args)
{
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'%' && i + 1 < text.size() && text.at(i + 1).isDigit() && text.at(i + 1) != u'0') {
            const qsizetype n = text.at(i + 1).digitValue();
            if (n <= args.size()) {
                out += args.at(n - 1);
                ++i;
                continue;
            }
        }
        out += c;
    }
    return out;
}

// Why a label file could not be read, from the problem's name and place.
QString readProblemText(const QString &name, const QString &at)
{
    switch (ReadProblem::kindNamed(name)) {
    case ReadProblem::None: break;
    case ReadProblem::Unreadable: return translateText("文件无法打开或读取");
    case ReadProblem::TooLarge:
        return translateText("文件超过 %1 MB 的读取上限").arg(kLabelFileLimit / (1024 * 1024));
    case ReadProblem::XmlError: return translateText("第%1行 XML 格式错误").arg(at);
    case ReadProblem::ExternalEntity: return translateText("第%1行声明了外部实体，出于安全不予读取").arg(at);
    case ReadProblem::UnusableObject:
        return translateText("第%1个对象无法使用（名称为空、框的宽或高为 0、多边形少于 3 个点或坐标不是数字）").arg(at);
    case ReadProblem::UnusableLine: return translateText("第%1行不是 YOLO 标注行").arg(at);
    case ReadProblem::NoImageSize: return translateText("读不出图片尺寸，无法换算 YOLO 坐标");
    case ReadProblem::ClassNames: return translateText("类别文件无法读取，类别编号没有名称");
    case ReadProblem::JsonError: return translateText("第%1行 JSON 格式错误，或不是 labelme 标注文件").arg(at);
    }
    return name;
}

} // namespace

QString LabelIssue::kindName() const
{
    switch (kind) {
    case Kind::FormatConflict: return QStringLiteral("format_conflict");
    case Kind::OutsideImage: return QStringLiteral("outside_image");
    case Kind::TinyBox: return QStringLiteral("tiny_box");
    case Kind::UnknownCategory: return QStringLiteral("unknown_category");
    case Kind::Duplicate: return QStringLiteral("duplicate");
    case Kind::UnreadableLabel: return QStringLiteral("unreadable_label");
    case Kind::ModelMissed: return QStringLiteral("model_missed");
    case Kind::ModelOffset: return QStringLiteral("model_offset");
    case Kind::ModelMislabel: return QStringLiteral("model_mislabel");
    case Kind::ModelUnlabelled: return QStringLiteral("model_unlabelled");
    case Kind::InferenceFailed: return QStringLiteral("inference_failed");
    }
    return QString();
}

int LabelIssue::shapeNumber() const
{
    switch (kind) {
    case Kind::OutsideImage:
    case Kind::TinyBox:
    case Kind::UnknownCategory:
    case Kind::Duplicate:
    case Kind::ModelMissed:
    case Kind::ModelOffset:
    case Kind::ModelMislabel:
        return std::max(0, args.value(0).toInt());
    default:
        return 0;
    }
}

QString LabelIssue::problem() const
{
    switch (kind) {
    case Kind::FormatConflict: return translateText("格式冲突");
    case Kind::OutsideImage: return translateText("越界框");
    case Kind::TinyBox: return translateText("过小框");
    case Kind::UnknownCategory: return translateText("未知类别");
    case Kind::Duplicate: return translateText("重复框");
    case Kind::UnreadableLabel: return translateText("无法读取标注");
    case Kind::ModelMissed: return translateText("模型未检出");
    case Kind::ModelOffset: return translateText("位置偏差");
    case Kind::ModelMislabel: return translateText("类别不符");
    case Kind::ModelUnlabelled: return translateText("疑似漏标");
    case Kind::InferenceFailed: return translateText("推理失败");
    }
    return QString();
}

QString LabelIssue::detail() const
{
    switch (kind) {
    case Kind::FormatConflict:
        if (!args.isEmpty())
            return fill(translateText("%1 与 %2 的标注文件同时存在，以 %1 为准"), args);
        return translateText("annotations/*.xml 与 labels/*.txt 同时存在,以 XML 为准");
    case Kind::OutsideImage:
        return fill(translateText("第%1个「%2」(%3,%4)-(%5,%6) 超出图像 %7x%8"), args);
    case Kind::TinyBox:
        return fill(translateText("第%1个「%2」尺寸 %3x%4"), args);
    case Kind::UnknownCategory:
        return fill(translateText("第%1个「%2」不在类别表中"), args);
    case Kind::Duplicate:
        return fill(translateText("第%1个与第%2个「%3」几乎完全重叠(IoU>0.95)"), args);
    case Kind::UnreadableLabel:
        return fill(translateText("%1 未能完整读取：%2"),
                    {QDir::toNativeSeparators(args.value(0)), readProblemText(args.value(1), args.value(2))});
    case Kind::ModelMissed:
        return fill(translateText("第%1个「%2」%3 在模型结果中无对应目标(可能漏标或难例,请人工复核)"), args);
    case Kind::ModelOffset:
        return fill(translateText("第%1个「%2」与模型框 IoU=%3,建议核对位置"), args);
    case Kind::ModelMislabel:
        return fill(translateText("第%1个标注为「%2」,模型识别为「%3」(IoU=%4)"), args);
    case Kind::ModelUnlabelled:
        return fill(translateText("模型发现目标「%1」%2 (置信度 %3) 但标注中没有对应框"), args);
    case Kind::InferenceFailed:
        return args.value(0);   // the client's own words
    }
    return QString();
}

void registerLabelIssueMetaType()
{
    qRegisterMetaType<LabelIssue>("LabelIssue");
}
