#include "tools/cli/commandhelp.h"

#include "shared/language.h"

#include <QList>
#include <QStringList>

namespace {

struct Option
{
    const char *syntax;   // never translated: it is what the user types
    QString meaning;
};

struct Help
{
    const char *usage;
    QString summary;
    QList<Option> options;
};

// Written out per command, so that the dictionary test sees every literal.
Help helpOf(const QString &command)
{
    const Option servers{"--server URL2 ...", translateText("更多运行同一模型的服务器；请求发往在途请求最少的一个")};
    const Option model{"--model NAME", translateText("请求中的模型名（默认：服务器列出的第一个）")};
    const Option concurrency{"--concurrency N", translateText("每个服务器同时发送的图片数，1–64（默认 1）")};
    const Option timeout{"--timeout S", translateText("多少秒没有数据后放弃请求（默认 300）")};
    const Option minScore{"--min-score S", translateText("丢弃置信度低于此值的检测，0–1（默认 0.4）")};
    if (command == u"list")
        return {"list DIR", translateText("按文件列表的顺序列出目录中的图片"), {}};
    if (command == u"show")
        return {"show IMAGE...", translateText("显示每张图片的尺寸、标注数和标注"), {}};
    if (command == u"pending")
        return {"pending DIR", translateText("列出目录中等待确认的模型结果"), {}};
    if (command == u"convert")
        return {"convert --to yolo|voc|labelme|dota [--classes a,b,...] PATH...",
                translateText("把图片的标注文件转换为 YOLO、VOC 或 DOTA 格式"),
                {{"--to yolo|voc|labelme|dota", translateText("目标格式")},
                 {"--classes a,b,...", translateText("新建 YOLO 类别表时的类别名，按此顺序")}}};
    if (command == u"export")
        return {"export --to coco|ultralytics|dota [--val FRACTION] [--seed N] [--output FILE] [--include-unlabelled] DIR",
                translateText("导出为 COCO 标注文件、Ultralytics 的 data.yaml 和图片列表，或 DOTA 的 labelTxt 文件夹"),
                {{"--to coco|ultralytics|dota", translateText("导出格式")},
                 {"--val FRACTION", translateText("划入验证集的已标注图片比例（默认 0.2）")},
                 {"--seed N", translateText("划分的随机种子，相同种子得到相同划分（默认 0）")},
                 {"--output FILE", translateText("写入此文件，而不是标准输出或数据集目录")},
                 {"--include-unlabelled", translateText("把没有标注文件的图片作为背景图片导出")}}};
    if (command == u"import")
        return {"import --from coco [--merge] [--format voc|yolo|labelme] FILE.json DIR",
                translateText("把 COCO 标注文件中的形状写入目录中图片的标注文件"),
                {{"--from coco", translateText("来源格式（目前只有 coco）")},
                 {"--merge", translateText("已有标注的图片也加入文件中它缺少的形状")},
                 {"--format voc|yolo|labelme", translateText("目录中还没有标注文件时新建标注文件的格式（默认 voc）")}}};
    if (command == u"parse")
        return {"parse --source WxH [--sent WxH] [--min-score S] [--classes a,b,...] [--restrict] [--pending] < ANSWER",
                translateText("显示模型的回答（从标准输入读取）会变成哪些标注"),
                {{"--source WxH", translateText("原图尺寸（必需）")},
                 {"--sent WxH", translateText("发给模型的图片尺寸（默认：原图尺寸）")},
                 minScore,
                 {"--classes a,b,...", translateText("给模型的类别名")},
                 {"--restrict", translateText("只保留 --classes 中的类别")},
                 {"--pending", translateText("把结果标为待确认")}}};
    if (command == u"check")
        return {"check [--classes a,b,...] [--server URL [--server URL2 ...] [--model NAME] [--concurrency N] [--timeout S]] DIR",
                translateText("检查目录中的标注；给出服务器时也让模型复核"),
                {{"--classes a,b,...", translateText("类别表（默认：标注目录中的 classes.txt）")},
                 {"--server URL", translateText("模型服务器的地址，用于模型复核")},
                 servers, model, concurrency, timeout}};
    if (command == u"label")
        return {"label --server URL [--server URL2 ...] [--shard K/N] [--progress jsonl] [--model NAME] [--concurrency N] [--timeout S] [--prompt TEXT] "
                "[--classes a,b,...] [--min-score S] [--unlabelled] [--confirmed [--add-classes]] [--format voc|yolo] DIR",
                translateText("用模型预标注目录中的图片"),
                {{"--server URL", translateText("模型服务器的地址（必需）")},
                 servers,
                 {"--shard K/N", translateText("只处理 N 份中的第 K 份图片（按图片相对路径的哈希划分）")},
                 {"--progress jsonl", translateText("每处理完一张图片，在标准输出打印一行 JSON")},
                 model, concurrency, timeout,
                 {"--prompt TEXT", translateText("用你自己的指令代替默认指令")},
                 {"--classes a,b,...", translateText("给模型的类别名；其他类别的检测被丢弃")},
                 minScore,
                 {"--unlabelled", translateText("只处理没有标注文件的图片")},
                 {"--confirmed", translateText("结果直接写入标注文件，不再待确认")},
                 {"--add-classes", translateText("把结果中的新类别追加到其他工具的类别文件（data.yaml、obj.names）")},
                 {"--format voc|yolo", translateText("--confirmed 新建标注文件的格式")}}};
    return {nullptr, QString(), {}};
}

} // namespace

QString commandUsage(const QString &command)
{
    const Help help = helpOf(command);
    return help.usage ? QLatin1String(help.usage) : QString();
}

QString commandHelp(const QString &command)
{
    const Help help = helpOf(command);
    if (!help.usage)
        return QString();
    QList<Option> options = help.options;
    options.append({"-h, --help", translateText("显示此帮助")});
    int width = 0;
    for (const Option &o : std::as_const(options))
        width = qMax(width, int(qstrlen(o.syntax)));
    QStringList lines;
    lines << translateText("用法：%1").arg(QStringLiteral("brindlemark-cli ") + QLatin1String(help.usage))
          << QString() << help.summary << QString() << translateText("选项：");
    for (const Option &o : std::as_const(options))
        lines << QStringLiteral("  %1  %2").arg(QLatin1String(o.syntax), -width).arg(o.meaning);
    return lines.join(QLatin1Char('\n'));
}

bool asksForHelp(const QStringList &args)
{
    for (const QString &arg : args) {
        if (arg == u"--")
            return false;
        if (arg == u"-h" || arg == u"--help")
            return true;
    }
    return false;
}
