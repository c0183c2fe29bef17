#include "checker/labelissue.h"

#include "shared/language.h"

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

} // namespace

QString LabelIssue::kindName() const
{
    switch (kind) {
    case Kind::FormatConflict: return QStringLiteral("format_conflict");
    case Kind::OutsideImage: return QStringLiteral("outside_image");
    case Kind::TinyBox: return QStringLiteral("tiny_box");
    case Kind::UnknownCategory: return QStringLiteral("unknown_category");
    case Kind::Duplicate: return QStringLiteral("duplicate");
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
        return translateText("annotations/*.xml 与 labels/*.txt 同时存在,以 XML 为准");
    case Kind::OutsideImage:
        return fill(translateText("第%1个「%2」(%3,%4)-(%5,%6) 超出图像 %7x%8"), args);
    case Kind::TinyBox:
        return fill(translateText("第%1个「%2」尺寸 %3x%4"), args);
    case Kind::UnknownCategory:
        return fill(translateText("第%1个「%2」不在类别表中"), args);
    case Kind::Duplicate:
        return fill(translateText("第%1个与第%2个「%3」几乎完全重叠(IoU>0.95)"), args);
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
