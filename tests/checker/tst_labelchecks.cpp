#include "checkerfixtures.h"
#include "support/annotationbuilders.h"
#include "support/foreignlabels.h"
#include "testmain.h"

#include "checker/labelchecks.h"
#include "shared/language.h"
#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/filebytes.h"
#include "storage/rotatedbox.h"

#include <QTemporaryDir>

#include <sys/stat.h>

namespace {

QStringList texts(const QList<LabelIssue> &issues, const QString &path)
{
    QStringList out;
    for (const LabelIssue &issue : issues) {
        if (issue.path != path)
            out << QStringLiteral("wrong path ") + issue.path;
        out << issue.problem() + QLatin1Char('|') + issue.detail();
    }
    return out;
}

const QString kMissed = QStringLiteral(" 在模型结果中无对应目标(可能漏标或难例,请人工复核)");

} // namespace

class TestLabelChecks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setLanguage(QStringLiteral("zh_CN")); }
    void init()
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        m_image = m_tmp->path() + QStringLiteral("/ds/x.png");
    }

    void rules_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QList<Annotation>>("stored");
        QTest::addColumn<QStringList>("classes");
        QTest::addColumn<QStringList>("expected");
        const QSize s(100, 50);

        QTest::newRow("within half a pixel of every edge")
            << s << QList<Annotation>{box("car", -0.4, -0.5, 100.5, 50.4)} << QStringList() << QStringList();
        QTest::newRow("left 0.6 outside, top rounds to 0 not -0")
            << s << QList<Annotation>{box("car", -0.6, -0.4, 100, 50)} << QStringList()
            << QStringList{"越界框|第1个「car」(-1,0)-(100,50) 超出图像 100x50"};
        QTest::newRow("bottom 0.6 outside")
            << s << QList<Annotation>{box("car", 10, 10, 40, 50.6)} << QStringList()
            << QStringList{"越界框|第1个「car」(10,10)-(40,51) 超出图像 100x50"};
        QTest::newRow("1.5 px wide box at the edge: outside, then tiny")
            << s << QList<Annotation>{box("car", -1, 10, 0.5, 30)} << QStringList()
            << QStringList{"越界框|第1个「car」(-1,10)-(1,30) 超出图像 100x50", "过小框|第1个「car」尺寸 2x20"};
        QTest::newRow("1.9 px high") << s << QList<Annotation>{box("car", 10, 10, 40, 11.9)} << QStringList()
                                     << QStringList{"过小框|第1个「car」尺寸 30x2"};
        QTest::newRow("2 px square is not tiny")
            << s << QList<Annotation>{box("car", 10, 10, 12, 12)} << QStringList() << QStringList();
        QTest::newRow("category compared exactly")
            << s << QList<Annotation>{box("cat", 0, 0, 20, 20), box("Cat", 30, 0, 50, 20)}
            << QStringList{"cat", "dog"} << QStringList{"未知类别|第2个「Cat」不在类别表中"};
        QTest::newRow("no category list, no category check")
            << s << QList<Annotation>{box("anything", 0, 0, 20, 20)} << QStringList() << QStringList();
        QTest::newRow("three identical boxes: one finding each, naming the first")
            << s << QList<Annotation>{box("car", 0, 0, 20, 20), box("car", 0, 0, 20, 20), box("car", 0, 0, 20, 20)}
            << QStringList()
            << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)",
                           "重复框|第3个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("a later box left of the earlier one names the earlier")
            << QSize(200, 200) << QList<Annotation>{box("car", 10, 0, 110, 100), box("car", 9, 0, 109, 100)}
            << QStringList() << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("copies of a box that duplicates an earlier one name the earliest")
            << QSize(200, 200)
            << QList<Annotation>{box("car", 50, 50, 150, 150), box("bus", 0, 0, 10, 10), box("car", 51, 50, 151, 150),
                                 box("car", 51, 50, 151, 150), box("car", 50, 50, 150, 150)}
            << QStringList()
            << QStringList{"重复框|第3个与第1个「car」几乎完全重叠(IoU>0.95)",
                           "重复框|第4个与第1个「car」几乎完全重叠(IoU>0.95)",
                           "重复框|第5个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("near-copies in a chain: each names the first it nearly covers")
            << QSize(400, 200)
            << QList<Annotation>{box("car", 0, 0, 100, 100), box("car", 2, 0, 102, 100), box("car", 4, 0, 104, 100)}
            << QStringList()
            << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)",
                           "重复框|第3个与第2个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("a box below within reach, one out of reach")
            << QSize(400, 400)
            << QList<Annotation>{box("car", 0, 2, 100, 102), box("car", 0, 0, 100, 100), box("car", 0, 200, 100, 300)}
            << QStringList() << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("same box, other label is no duplicate")
            << s << QList<Annotation>{box("car", 0, 0, 20, 20), box("bus", 0, 0, 20, 20)} << QStringList()
            << QStringList();
        QTest::newRow("IoU exactly 0.95 is no duplicate")
            << QSize(200, 200) << QList<Annotation>{box("car", 0, 0, 100, 100), box("car", 0, 0, 100, 95)}
            << QStringList() << QStringList();
        QTest::newRow("IoU 0.96 is a duplicate")
            << QSize(200, 200) << QList<Annotation>{box("car", 0, 0, 100, 100), box("car", 0, 0, 100, 96)}
            << QStringList() << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("polygon tested by the box around its points")
            << s << QList<Annotation>{polygon("road", {{10, 10}, {120, 10}, {60, 40}})} << QStringList{"road"}
            << QStringList{"越界框|第1个「road」(10,10)-(120,40) 超出图像 100x50"};
        const auto turned = [](double cx, double cy, double w, double h, double angle) {
            RotatedFrame f;
            f.centre = QPointF(cx, cy);
            f.width = w;
            f.height = h;
            f.angle = angle;
            return rotated("car", f.corners());
        };
        QTest::newRow("rotated box with one corner outside")
            << QSize(100, 100) << QList<Annotation>{rotated("car", {{-4, 20}, {36, 60}, {16, 80}, {-24, 40}})}
            << QStringList() << QStringList{"越界框|第1个「car」(-24,20)-(36,80) 超出图像 100x100"};
        QTest::newRow("thin turned box is tiny by its own sides, not its bounds")
            << QSize(100, 100) << QList<Annotation>{turned(50, 50, 40, 1, 45)} << QStringList()
            << QStringList{"过小框|第1个「car」尺寸 40x1"};
        QTest::newRow("rotated boxes of one bounds turned apart are no duplicates")
            << QSize(100, 100) << QList<Annotation>{turned(50, 50, 60, 20, 30), turned(50, 50, 60, 20, -30)}
            << QStringList() << QStringList();
        QTest::newRow("a rotated box on a box's corners duplicates it")
            << s << QList<Annotation>{box("car", 0, 0, 20, 20), rotated("car", {{20, 0}, {20, 20}, {0, 20}, {0, 0}})}
            << QStringList() << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("rotated copies by rotated IoU: 1 degree apart is one, 10 apart is not")
            << QSize(100, 100)
            << QList<Annotation>{turned(50, 50, 60, 30, 20), turned(50, 50, 60, 30, 21), turned(50, 50, 60, 30, 31)}
            << QStringList() << QStringList{"重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
        QTest::newRow("placeholders in a label stay text")
            << s << QList<Annotation>{box("%1%3", 5, 5, 6, 6)} << QStringList{"car"}
            << QStringList{"过小框|第1个「%1%3」尺寸 1x1", "未知类别|第1个「%1%3」不在类别表中"};
        QTest::newRow("every test on one shape, in order")
            << s << QList<Annotation>{box("car", -3, 0, -2, 1), box("car", -3, 0, -2, 1)} << QStringList{"bus"}
            << QStringList{"越界框|第1个「car」(-3,0)-(-2,1) 超出图像 100x50", "过小框|第1个「car」尺寸 1x1",
                           "未知类别|第1个「car」不在类别表中", "越界框|第2个「car」(-3,0)-(-2,1) 超出图像 100x50",
                           "过小框|第2个「car」尺寸 1x1", "未知类别|第2个「car」不在类别表中",
                           "重复框|第2个与第1个「car」几乎完全重叠(IoU>0.95)"};
    }
    void rules()
    {
        QFETCH(QSize, size);
        QFETCH(QList<Annotation>, stored);
        QFETCH(QStringList, classes);
        QFETCH(QStringList, expected);
        QVERIFY(Fixtures::makeImage(m_image, size.width(), size.height()));
        // Another tool's file: ours never hold a box past the edge.
        QVERIFY(ForeignLabels::writeVoc(m_image, stored));
        QCOMPARE(loadAnnotations(m_image).size(), stored.size());
        QCOMPARE(texts(checkImage(m_image, classes), m_image), expected);
    }

    // Which label files exist decides what is examined. Paths come from the layout functions.
    void labelFiles_data()
    {
        QTest::addColumn<QByteArray>("xml");       // "" = no VOC file
        QTest::addColumn<QByteArray>("yolo");      // "" = no mapped YOLO file
        QTest::addColumn<QByteArray>("sibling");   // "" = no YOLO file beside the image
        QTest::addColumn<bool>("readableImage");
        QTest::addColumn<QStringList>("expected");
        const QString conflict = QStringLiteral("格式冲突|annotations/*.xml 与 labels/*.txt 同时存在,以 XML 为准");
        const QByteArray tinyYolo = "0 0.5 0.5 0.001 0.001\n";

        QTest::newRow("no label file") << QByteArray() << QByteArray() << QByteArray() << true << QStringList();
        QTest::newRow("both formats: conflict, XML objects only")
            << Fixtures::vocXml({{"car", 10, 10, 60, 40}}) << tinyYolo << QByteArray() << true
            << QStringList{conflict};
        QTest::newRow("both formats, the XML object is tiny")
            << Fixtures::vocXml({{"car", 10, 10, 11, 40}}) << QByteArray("0 0.5 0.5 0.5 0.5\n") << QByteArray() << true
            << QStringList{conflict, "过小框|第1个「car」尺寸 1x30"};
        QTest::newRow("XML with a sibling YOLO file conflicts too")
            << Fixtures::vocXml({{"car", 10, 10, 60, 40}}) << QByteArray() << tinyYolo << true << QStringList{conflict};
        QTest::newRow("two YOLO copies are no format conflict")
            << QByteArray() << QByteArray("0 0.5 0.5 0.5 0.5\n") << QByteArray("0 0.5 0.5 0.5 0.5\n") << true
            << QStringList();
        QTest::newRow("YOLO only") << QByteArray() << tinyYolo << QByteArray() << true
                                   << QStringList{"过小框|第1个「cat」尺寸 0x0"};
        QTest::newRow("XML without objects") << Fixtures::vocXml({}) << QByteArray() << QByteArray() << true
                                             << QStringList();
        // A label file that cannot be read to its end is a finding; what was read is still checked.
        const QString unreadable = QStringLiteral("无法读取标注|%1 未能完整读取：");
        const QString xmlUnreadable = unreadable.arg("%X");
        const QString yoloUnreadable = unreadable.arg("%Y");
        QTest::newRow("broken XML: objects before the error")
            << QByteArray("<annotation><object><name>car</name><bndbox><xmin>1</xmin><ymin>1</ymin><xmax>2</xmax>"
                          "<ymax>50</ymax></bndbox></object><object><name>")
            << QByteArray() << QByteArray() << true
            << QStringList{xmlUnreadable + "第1行 XML 格式错误", "过小框|第1个「car」尺寸 1x49"};
        QTest::newRow("XML entity bomb") << Fixtures::vocEntityBomb() << QByteArray() << QByteArray() << true
                                         << QStringList{xmlUnreadable + "第12行 XML 格式错误",
                                                        "越界框|第1个「cat」(10,20)-(110,70) 超出图像 100x50"};
        QTest::newRow("XML with an object it cannot use; reversed corners are a box")
            << Fixtures::vocXml({{"car", 60, 40, 10, 10}, {"bus", 10, 10, 10, 40}}) << QByteArray() << QByteArray() << true
            << QStringList{xmlUnreadable
                           + "第2个对象无法使用（名称为空、框的宽或高为 0、多边形少于 3 个点或坐标不是数字）"};
        QTest::newRow("XML past the read limit")
            << QByteArray("huge") << QByteArray() << QByteArray() << true
            << QStringList{xmlUnreadable + "文件超过 64 MB 的读取上限"};
        QTest::newRow("YOLO line that is not YOLO")
            << QByteArray() << QByteArray("0 0.5 0.5 0.5 0.5\nnot a label line\n") << QByteArray() << true
            << QStringList{yoloUnreadable + "第2行不是 YOLO 标注行"};
        QTest::newRow("YOLO past the read limit")
            << QByteArray() << QByteArray("huge") << QByteArray() << true
            << QStringList{yoloUnreadable + "文件超过 64 MB 的读取上限"};
        QTest::newRow("unreadable image, XML: every shape outside -1x-1")
            << Fixtures::vocXml({{"car", 10, 10, 60, 40}, {"bus", 0, 0, 5, 5}}) << QByteArray() << QByteArray() << false
            << QStringList{"越界框|第1个「car」(10,10)-(60,40) 超出图像 -1x-1",
                           "越界框|第2个「bus」(0,0)-(5,5) 超出图像 -1x-1"};
        QTest::newRow("unreadable image, YOLO: nothing to read")
            << QByteArray() << tinyYolo << QByteArray() << false
            << QStringList{yoloUnreadable + "读不出图片尺寸，无法换算 YOLO 坐标"};
    }
    void labelFiles()
    {
        QFETCH(QByteArray, xml);
        QFETCH(QByteArray, yolo);
        QFETCH(QByteArray, sibling);
        QFETCH(bool, readableImage);
        QFETCH(QStringList, expected);
        m_image = m_tmp->path() + QStringLiteral("/ds/images/x.png");
        if (readableImage)
            QVERIFY(Fixtures::makeImage(m_image, 100, 50));
        else
            QVERIFY(Fixtures::writeBytes(m_image, "not an image"));
        QVERIFY(Fixtures::writeBytes(labelsDirFor(m_image) + "/classes.txt", "cat\n"));
        // "huge": one byte past the read limit.
        const auto write = [](const QString &path, const QByteArray &content) {
            if (content != "huge")
                return Fixtures::writeBytes(path, content);
            return Fixtures::writeBytes(path, "<annotation>\n0 0.5 0.5 0.5 0.5\n")
                && Fixtures::growFile(path, kLabelFileLimit + 1);
        };
        if (!xml.isEmpty())
            QVERIFY(write(vocXmlPath(m_image), xml));
        if (!yolo.isEmpty())
            QVERIFY(write(yoloLabelPath(m_image), yolo));
        if (!sibling.isEmpty())
            QVERIFY(write(siblingYoloLabelPath(m_image), sibling));
        for (QString &line : expected)
            line.replace("%X", vocXmlPath(m_image)).replace("%Y", yoloLabelPath(m_image));
        QCOMPARE(texts(checkImage(m_image, {}), m_image), expected);
    }

    // A DOTA folder's files are checked as read: a corner outside the image is a finding, not clamped.
    void dotaFiles_data()
    {
        QTest::addColumn<QByteArray>("dota");
        QTest::addColumn<QString>("other");   // another format's file of the image: "", "yolo" or "voc"
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("inside, with the header") << QByteArray("imagesource:GoogleEarth\ngsd:0.2\n"
                                                               "10 10 50 10 50 30 10 30 car 0\n")
                                                 << QString() << QStringList();
        QTest::newRow("a corner slightly outside") << QByteArray("-4 20 36 60 16 80 -24 40 car 0\n") << QString()
                                                   << QStringList{"越界框|第1个「car」(-24,20)-(36,80) 超出图像 100x50"};
        QTest::newRow("a tiny quadrilateral") << QByteArray("10 10 11 10 11.5 30 10 31 car 1\n") << QString()
                                              << QStringList{"过小框|第1个「car」尺寸 2x21"};
        // The DOTA file is read; the YOLO file beside it is not, which the user must hear.
        QTest::newRow("a YOLO file too: conflict, the DOTA objects checked")
            << QByteArray("10 10 11 10 11.5 30 10 31 car 1\n") << "yolo"
            << QStringList{"格式冲突|DOTA 与 YOLO 的标注文件同时存在，以 DOTA 为准", "过小框|第1个「car」尺寸 2x21"};
        QTest::newRow("a VOC file too: conflict, the VOC objects checked")
            << QByteArray("10 10 11 10 11.5 30 10 31 car 1\n") << "voc"
            << QStringList{"格式冲突|VOC 与 DOTA 的标注文件同时存在，以 VOC 为准"};
    }
    void dotaFiles()
    {
        QFETCH(QByteArray, dota);
        QFETCH(QString, other);
        QFETCH(QStringList, expected);
        m_image = m_tmp->path() + QStringLiteral("/DOTA/images/P0001.png");
        QVERIFY(Fixtures::makeImage(m_image, 100, 50));
        QVERIFY(Fixtures::writeBytes(m_tmp->path() + QStringLiteral("/DOTA/labelTxt/P0001.txt"), dota));
        if (other == "yolo") {
            QVERIFY(Fixtures::writeBytes(labelsDirFor(m_image) + "/classes.txt", "car\n"));
            QVERIFY(Fixtures::writeBytes(yoloLabelPath(m_image), "0 0.5 0.5 0.5 0.5\n"));
        } else if (other == "voc") {
            QVERIFY(Fixtures::writeBytes(vocXmlPath(m_image), Fixtures::vocXml({{"car", 10, 10, 60, 40}})));
        }
        QCOMPARE(texts(checkImage(m_image, {}), m_image), expected);
    }

    // A FIFO where a file is expected would block its reader forever: it reads as unreadable.
    void specialFilesNeverBlock_data()
    {
        QTest::addColumn<QString>("fifo");   // which file is a FIFO: image, xml, yolo or classes
        QTest::addColumn<QStringList>("problems");
        // YOLO numbers cannot be converted without the image's size.
        QTest::newRow("image") << "image" << QStringList{"无法读取标注"};
        QTest::newRow("XML") << "xml" << QStringList{"无法读取标注"};
        QTest::newRow("YOLO") << "yolo" << QStringList{"无法读取标注"};
        // The labels are read with numbers for names; a tiny box is still tiny.
        QTest::newRow("class list") << "classes" << QStringList{"无法读取标注", "过小框"};
    }
    void specialFilesNeverBlock()
    {
        QFETCH(QString, fifo);
        QFETCH(QStringList, problems);
        m_image = m_tmp->path() + QStringLiteral("/ds/images/x.png");
        const QString fifoPath = fifo == "image" ? m_image
            : fifo == "xml"                      ? vocXmlPath(m_image)
            : fifo == "yolo"                     ? yoloLabelPath(m_image)
                                                 : labelsDirFor(m_image) + "/classes.txt";
        QDir().mkpath(QFileInfo(fifoPath).absolutePath());
        QCOMPARE(::mkfifo(QFile::encodeName(fifoPath).constData(), 0600), 0);
        if (fifo != "image")
            QVERIFY(Fixtures::makeImage(m_image, 100, 50));
        if (fifo != "xml" && fifo != "yolo")
            QVERIFY(Fixtures::writeBytes(yoloLabelPath(m_image), "0 0.5 0.5 0.001 0.001\n"));
        QStringList found;
        for (const LabelIssue &issue : checkImage(m_image, {}))
            found.append(issue.problem());
        QCOMPARE(found, problems);
    }

    void compare_data()
    {
        QTest::addColumn<QList<Annotation>>("stored");
        QTest::addColumn<QList<Annotation>>("detections");
        QTest::addColumn<QStringList>("expected");
        const Annotation car = box("car", 0, 0, 100, 100);

        QTest::newRow("IoU 0.45, other label: position only")
            << QList<Annotation>{car} << QList<Annotation>{box("bus", 0, 0, 100, 45, 0, 0.8)}
            << QStringList{"位置偏差|第1个「car」与模型框 IoU=0.45,建议核对位置"};
        QTest::newRow("IoU exactly 0.3 is a position offset")
            << QList<Annotation>{car} << QList<Annotation>{box("car", 0, 0, 100, 30, 0, 0.8)}
            << QStringList{"位置偏差|第1个「car」与模型框 IoU=0.30,建议核对位置"};
        QTest::newRow("IoU 0.65, other label")
            << QList<Annotation>{car} << QList<Annotation>{box("bus", 0, 0, 100, 65, 0, 0.8)}
            << QStringList{"类别不符|第1个标注为「car」,模型识别为「bus」(IoU=0.65)"};
        QTest::newRow("IoU exactly 0.6, other label")
            << QList<Annotation>{car} << QList<Annotation>{box("Car", 0, 0, 100, 60, 0, 0.8)}
            << QStringList{"类别不符|第1个标注为「car」,模型识别为「Car」(IoU=0.60)"};
        QTest::newRow("IoU 0.65, same label") << QList<Annotation>{car}
                                              << QList<Annotation>{box("car", 0, 0, 100, 65, 0, 0.8)} << QStringList();
        QTest::newRow("IoU 0.29: not found, and the detection is unlabelled")
            << QList<Annotation>{car} << QList<Annotation>{box("car", 0, 0, 100, 29, 0, 0.914)}
            << QStringList{"模型未检出|第1个「car」(0,0)-(100,100)" + kMissed,
                           "疑似漏标|模型发现目标「car」(0,0)-(100,29) (置信度 0.91) 但标注中没有对应框"};
        QTest::newRow("model returns nothing")
            << QList<Annotation>{car, box("dog", 200.4, 10, 250.6, 60)} << QList<Annotation>()
            << QStringList{"模型未检出|第1个「car」(0,0)-(100,100)" + kMissed,
                           "模型未检出|第2个「dog」(200,10)-(251,60)" + kMissed};
        QTest::newRow("nothing stored") << QList<Annotation>() << QList<Annotation>{box("cat", 5, 5, 10, 10, 0, 0.5)}
                                        << QStringList{"疑似漏标|模型发现目标「cat」(5,5)-(10,10) (置信度 0.50) 但标注中没有对应框"};
        QTest::newRow("the first of two equal best detections counts")
            << QList<Annotation>{car}
            << QList<Annotation>{box("bus", 0, 0, 100, 65, 0, 0.8), box("car", 0, 35, 100, 100, 0, 0.8)}
            << QStringList{"类别不符|第1个标注为「car」,模型识别为「bus」(IoU=0.65)"};
        QTest::newRow("a strictly better later detection replaces it")
            << QList<Annotation>{car}
            << QList<Annotation>{box("bus", 0, 0, 100, 65, 0, 0.8), box("car", 0, 0, 100, 90, 0, 0.8)} << QStringList();
        QTest::newRow("touching boxes never match")
            << QList<Annotation>{car} << QList<Annotation>{box("car", 100, 0, 200, 100, 0, 0.7)}
            << QStringList{"模型未检出|第1个「car」(0,0)-(100,100)" + kMissed,
                           "疑似漏标|模型发现目标「car」(100,0)-(200,100) (置信度 0.70) 但标注中没有对应框"};
        QTest::newRow("polygons compared by their boxes")
            << QList<Annotation>{polygon("road", {{0, 0}, {100, 0}, {100, 100}, {0, 100}})}
            << QList<Annotation>{polygon("road", {{0, 0}, {100, 0}, {50, 100}})} << QStringList();
        QTest::newRow("stored shapes first, then detections in order")
            << QList<Annotation>{car, box("dog", 300, 300, 400, 400)}
            << QList<Annotation>{box("x", 500, 500, 600, 600, 0, 0.3), box("dog", 300, 300, 400, 350, 0, 0.6),
                                 box("y", 700, 700, 710, 710, 0, 0.99)}
            << QStringList{"模型未检出|第1个「car」(0,0)-(100,100)" + kMissed,
                           "位置偏差|第2个「dog」与模型框 IoU=0.50,建议核对位置",
                           "疑似漏标|模型发现目标「x」(500,500)-(600,600) (置信度 0.30) 但标注中没有对应框",
                           "疑似漏标|模型发现目标「y」(700,700)-(710,710) (置信度 0.99) 但标注中没有对应框"};
    }
    void compare()
    {
        QFETCH(QList<Annotation>, stored);
        QFETCH(QList<Annotation>, detections);
        QFETCH(QStringList, expected);
        QCOMPARE(texts(compareWithModel(m_image, stored, detections), m_image), expected);
    }

    // Findings are worded in the language of the moment they are shown; templates are translated
    // first, then filled.
    void translatedTexts()
    {
        const QList<LabelIssue> issues =
            compareWithModel(m_image, {box("%2", 0, 0, 100, 100)}, {box("bus", 0, 0, 100, 65, 0, 0.8)});
        QCOMPARE(issues.size(), 1);
        QCOMPARE(issues.first().kindName(), QStringLiteral("model_mislabel"));
        setLanguage(QStringLiteral("en"));
        const QString problem = issues.first().problem();
        const QString detail = issues.first().detail();
        setLanguage(QStringLiteral("zh_CN"));
        QCOMPARE(problem, QStringLiteral("Category mismatch"));
        QCOMPARE(detail, QStringLiteral("#1 is labelled “%2”, the model sees “bus” (IoU=0.65)"));
        QCOMPARE(issues.first().problem(), QStringLiteral("类别不符"));

        // The reason of an unreadable label file is worded when shown, its place filled in after.
        const LabelIssue unreadable{m_image, LabelIssue::Kind::UnreadableLabel, {"/d/%1.xml", "xml_error", "3"}};
        setLanguage(QStringLiteral("en"));
        const QString unreadableProblem = unreadable.problem();
        const QString unreadableDetail = unreadable.detail();
        setLanguage(QStringLiteral("zh_CN"));
        QCOMPARE(unreadable.kindName(), QStringLiteral("unreadable_label"));
        QVERIFY(!unreadable.fromModel());
        QCOMPARE(unreadableProblem, QStringLiteral("Unreadable labels"));
        QCOMPARE(unreadableDetail, QStringLiteral("/d/%1.xml could not be read completely: XML error on line 3"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;
};

BRINDLE_TEST_MAIN(TestLabelChecks)
#include "tst_labelchecks.moc"
