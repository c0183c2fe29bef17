#include "storage/annotationstore.h"
#include "storage/datasetlayout.h"
#include "storage/vocfile.h"

#include "storagefixtures.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QImage>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <QtTest>

namespace {

QByteArray wrapObjects(const QByteArray &objects)
{
    return "<?xml version=\"1.0\"?>\n<annotation>\n<filename>pic.png</filename>\n"
           "<size><width>200</width><height>100</height><depth>3</depth></size>\n"
        + objects + "</annotation>\n";
}

} // namespace

class TestVocFile : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void wholeDocument();
    void objectElements_data();
    void objectElements();
    void depth_data();
    void depth();
    void roundTrip_data();
    void roundTrip();
    void read_data();
    void read();
    void countObjects_data();
    void countObjects();
    void rootElement_data();
    void rootElement();

private:
    std::unique_ptr<QTemporaryDir> m_tmp;
    QString m_image;
    QString m_xml;
};

void TestVocFile::init()
{
    m_tmp = std::make_unique<QTemporaryDir>();
    m_image = m_tmp->path() + "/photos/pic.png";
    m_xml = m_tmp->path() + "/photos/annotations/pic.xml";
    QVERIFY(Fixtures::makeImage(m_image, 200, 100));
}

void TestVocFile::wholeDocument()
{
    QVERIFY(saveAnnotations(m_image, {box("cat", QRectF(50, 25, 100, 50), 0, 0.87)}, false, {}));
    const QByteArray expected = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                                "<annotation>\n"
                                "    <folder>photos</folder>\n"
                                "    <filename>pic.png</filename>\n"
                                "    <path>" + m_image.toUtf8() + "</path>\n"
                                "    <source>\n"
                                "        <database>Brindlemark</database>\n"
                                "    </source>\n"
                                "    <size>\n"
                                "        <width>200</width>\n"
                                "        <height>100</height>\n"
                                "        <depth>3</depth>\n"
                                "    </size>\n"
                                "    <segmented>0</segmented>\n"
                                "    <object>\n"
                                "        <name>cat</name>\n"
                                "        <pose>Unspecified</pose>\n"
                                "        <truncated>0</truncated>\n"
                                "        <difficult>0</difficult>\n"
                                "        <confidence>0.8700</confidence>\n"
                                "        <bndbox>\n"
                                "            <xmin>50</xmin>\n"
                                "            <ymin>25</ymin>\n"
                                "            <xmax>150</xmax>\n"
                                "            <ymax>75</ymax>\n"
                                "        </bndbox>\n"
                                "    </object>\n"
                                "</annotation>\n";
    QCOMPARE(Fixtures::readBytes(m_xml), expected);
}

void TestVocFile::objectElements_data()
{
    QTest::addColumn<Annotation>("annotation");
    QTest::addColumn<QByteArray>("expected");
    QTest::addColumn<QByteArray>("absent");

    QTest::newRow("no confidence element for -1")
        << box("cat", QRectF(1, 2, 3, 4)) << QByteArray("<difficult>0</difficult>\n        <bndbox>")
        << QByteArray("<confidence>");
    QTest::newRow("zero confidence written")
        << box("cat", QRectF(1, 2, 3, 4), 0, 0.0) << QByteArray("<confidence>0.0000</confidence>")
        << QByteArray("<polygon>");
    QTest::newRow("difficult") << box("cat", QRectF(1, 2, 3, 4), 0, -1, true) << QByteArray("<difficult>1</difficult>")
                               << QByteArray("<difficult>0");
    // Scripts read VOC coordinates with int(): whole pixels, the part inside the image.
    QTest::newRow("whole pixels, clipped to the image")
        << box("cat", QRectF(-10.125, 0.5, 300, 20.004))
        << QByteArray("<xmin>0</xmin>\n            <ymin>1</ymin>\n            <xmax>200</xmax>\n"
                      "            <ymax>21</ymax>")
        << QByteArray(".00<");
    QTest::newRow("a box thinner than a pixel keeps one")
        << box("cat", QRectF(10.6, 20.6, 0.3, 0.3))
        << QByteArray("<xmin>11</xmin>\n            <ymin>21</ymin>\n            <xmax>12</xmax>\n"
                      "            <ymax>22</ymax>")
        << QByteArray("<xmax>11<");
    QTest::newRow("a sliver at the far edge stays inside")
        << box("cat", QRectF(199.6, 99.6, 0.3, 0.3))
        << QByteArray("<xmin>199</xmin>\n            <ymin>99</ymin>\n            <xmax>200</xmax>\n"
                      "            <ymax>100</ymax>")
        << QByteArray("<xmax>201<");
    // VOC readers take <bndbox> as required; some stop reading the file at an object without one.
    QTest::newRow("polygon with its bounds")
        << polygon("cat", {{10, 20.5}, {30, 40}, {25, 60.25}})
        << QByteArray("        <polygon>\n            <points>10,21 30,40 25,60</points>\n"
                      "        </polygon>\n        <bndbox>\n            <xmin>10</xmin>\n"
                      "            <ymin>21</ymin>\n            <xmax>30</xmax>\n            <ymax>60</ymax>\n"
                      "        </bndbox>\n    </object>")
        << QByteArray("<depth>1");
    QTest::newRow("polygon past the edge: points and bounds clipped")
        << polygon("cat", {{-5, 20}, {250, 40}, {100, 120}})
        << QByteArray("<points>0,20 200,40 100,100</points>\n        </polygon>\n        <bndbox>\n"
                      "            <xmin>0</xmin>\n            <ymin>20</ymin>\n            <xmax>200</xmax>\n"
                      "            <ymax>100</ymax>")
        << QByteArray("-5");
    QTest::newRow("rotated box as robndbox with its bounds")
        << rotated("car", {{50, 20}, {90, 60}, {70, 80}, {30, 40}})
        << QByteArray("        <robndbox>\n            <cx>60.0000</cx>\n            <cy>50.0000</cy>\n"
                      "            <w>56.5685</w>\n            <h>28.2843</h>\n            <angle>0.78539816</angle>\n"
                      "        </robndbox>\n        <bndbox>\n            <xmin>30</xmin>\n"
                      "            <ymin>20</ymin>\n            <xmax>90</xmax>\n            <ymax>80</ymax>")
        << QByteArray("<points>");
    QTest::newRow("rotated box turned back: angle in [0, 2 pi)")
        << rotated("car", {{70, 80}, {30, 40}, {50, 20}, {90, 60}})
        << QByteArray("<angle>3.92699082</angle>") << QByteArray("<angle>-");
    QTest::newRow("escaped label") << box("a<b & \"c\"", QRectF(1, 2, 3, 4)) << QByteArray("<name>a&lt;b &amp; &quot;c&quot;</name>")
                                   << QByteArray("<name>a<b");
    QTest::newRow("unicode label") << box("猫", QRectF(1, 2, 3, 4)) << QByteArray("<name>猫</name>") << QByteArray("&#");
    QTest::newRow("empty label not written") << box("", QRectF(1, 2, 3, 4)) << QByteArray("<segmented>0</segmented>\n</annotation>\n")
                                             << QByteArray("<object>");
}

void TestVocFile::objectElements()
{
    QFETCH(Annotation, annotation);
    QFETCH(QByteArray, expected);
    QFETCH(QByteArray, absent);
    QVERIFY(saveAnnotations(m_image, {annotation}, false, {}));
    const QByteArray xml = Fixtures::readBytes(m_xml);
    QVERIFY2(xml.contains(expected), xml.constData());
    QVERIFY2(!xml.contains(absent), xml.constData());
}

void TestVocFile::depth_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("format"); // QImage::Format; Format_Invalid: a file that is no image
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("colour PNG") << "c.png" << int(QImage::Format_RGB32) << QByteArray("<depth>3</depth>");
    QTest::newRow("grayscale PNG") << "g.png" << int(QImage::Format_Grayscale8) << QByteArray("<depth>1</depth>");
    QTest::newRow("16-bit grayscale PNG") << "g16.png" << int(QImage::Format_Grayscale16)
                                          << QByteArray("<depth>1</depth>");
    QTest::newRow("grayscale JPEG") << "g.jpg" << int(QImage::Format_Grayscale8) << QByteArray("<depth>1</depth>");
    QTest::newRow("colour JPEG") << "c.jpg" << int(QImage::Format_RGB32) << QByteArray("<depth>3</depth>");
    QTest::newRow("palette PNG") << "p.png" << int(QImage::Format_Indexed8) << QByteArray("<depth>3</depth>");
    QTest::newRow("unreadable image") << "x.png" << int(QImage::Format_Invalid)
                                      << QByteArray("<width>-1</width>\n        <height>-1</height>\n"
                                                    "        <depth>3</depth>");
}

void TestVocFile::depth()
{
    QFETCH(QString, name);
    QFETCH(int, format);
    QFETCH(QByteArray, expected);
    const QString path = m_tmp->path() + "/photos/" + name;
    if (format == QImage::Format_Invalid) {
        QVERIFY(Fixtures::writeBytes(path, "not an image"));
    } else {
        QImage image(40, 30, QImage::Format(format));
        if (format == QImage::Format_Indexed8)
            image.setColorTable({qRgb(200, 10, 10), qRgb(10, 200, 10)});
        image.fill(1);
        QVERIFY(image.save(path));
    }
    QVERIFY(writeVocFile(path, {box("cat", QRectF(1, 2, 3, 4))}));
    const QByteArray xml = Fixtures::readBytes(vocXmlPath(path));
    QVERIFY2(xml.contains(expected), xml.constData());
}

void TestVocFile::roundTrip_data()
{
    QTest::addColumn<QList<Annotation>>("annotations");
    QTest::addColumn<QList<Annotation>>("expected");

    const Annotation cat = box("cat", QRectF(50, 25, 100, 50), 0, 0.87);
    QTest::newRow("box with confidence") << QList<Annotation>{cat} << QList<Annotation>{cat};
    const Annotation hard = box("dog", QRectF(0, 0, 200, 100), 0, -1, true);
    QTest::newRow("difficult box") << QList<Annotation>{hard} << QList<Annotation>{hard};
    const Annotation uni = box("猫 & Ñandú", QRectF(1, 2, 3, 4));
    QTest::newRow("unicode label") << QList<Annotation>{uni} << QList<Annotation>{uni};
    QTest::newRow("box to whole pixels")
        << QList<Annotation>{box("c", QRectF(1.25, 2.5, 3, 4))} << QList<Annotation>{box("c", QRectF(1, 3, 3, 4))};
    QTest::newRow("polygon to whole pixels, rect from its bounds")
        << QList<Annotation>{[] { Annotation a = polygon("p", {{10.004, 20}, {30, 40.5}, {25, 60.256}});
                                  a.rect = QRectF(1, 1, 5, 5); return a; }()}
        << QList<Annotation>{[] { Annotation a = polygon("p", {{10, 20}, {30, 41}, {25, 60}});
                                  a.rect = QRectF(QPointF(10, 20), QPointF(30, 60)); return a; }()};
    QTest::newRow("polygons and boxes mixed")
        << QList<Annotation>{polygon("a", {{-5, 20}, {250, 40}, {100, 120}}), cat,
                             polygon("b", {{0, 0}, {200, 0}, {200, 100}, {0, 100}})}
        << QList<Annotation>{[] { Annotation a = polygon("a", {{0, 20}, {200, 40}, {100, 100}});
                                  a.rect = QRectF(QPointF(0, 20), QPointF(200, 100)); return a; }(),
                             cat,
                             [] { Annotation a = polygon("b", {{0, 0}, {200, 0}, {200, 100}, {0, 100}});
                                  a.rect = QRectF(0, 0, 200, 100); return a; }()};
    QTest::newRow("ids and pending not kept")
        << QList<Annotation>{[&] { Annotation a = cat; a.id = 7; a.pending = 1; return a; }()}
        << QList<Annotation>{cat};
    QTest::newRow("empty labels dropped, order kept")
        << QList<Annotation>{box("", QRectF(1, 1, 1, 1)), hard, cat} << QList<Annotation>{hard, cat};
    QTest::newRow("no objects: a background image") << QList<Annotation>{} << QList<Annotation>{};
}

void TestVocFile::roundTrip()
{
    QFETCH(QList<Annotation>, annotations);
    QFETCH(QList<Annotation>, expected);
    QVERIFY(saveAnnotations(m_image, annotations, false, {}));
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    QVERIFY(stored.complete());
    const QList<Annotation> &got = stored.annotations;
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], expected[i]);
    QCOMPARE(countAnnotations(m_image), int(expected.size()));
    // What other readers need of every file, objects or none.
    const QByteArray xml = Fixtures::readBytes(vocXmlPath(m_image));
    QVERIFY2(xml.contains("<filename>") && xml.contains("<width>200</width>") && xml.contains("<height>100</height>"),
             xml.constData());
}

void TestVocFile::read_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QList<Annotation>>("expected");
    QTest::addColumn<QString>("problem");   // why the reading is incomplete, "name at"; empty: complete

    const QByteArray catBox = "<bndbox><xmin>10</xmin><ymin>20</ymin><xmax>110</xmax><ymax>70</ymax></bndbox>";
    const Annotation cat = box("cat", QRectF(10, 20, 100, 50));
    const QString unusableFirst = QStringLiteral("unusable_object 1");

    QTest::newRow("plain") << wrapObjects("<object><name> cat </name>" + catBox + "</object>") << QList<Annotation>{cat}
                           << QString();
    QTest::newRow("difficult true is not 1")
        << wrapObjects("<object><name>cat</name><difficult>true</difficult>" + catBox + "</object>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("difficult 1") << wrapObjects("<object><name>cat</name><difficult> 1 </difficult>" + catBox + "</object>")
                                 << QList<Annotation>{box("cat", QRectF(10, 20, 100, 50), 0, -1, true)} << QString();
    QTest::newRow("confidence not a number gives 0")
        << wrapObjects("<object><name>cat</name><confidence>high</confidence>" + catBox + "</object>")
        << QList<Annotation>{box("cat", QRectF(10, 20, 100, 50), 0, 0.0)} << QString();
    QTest::newRow("edges in any order")
        << wrapObjects("<object><bndbox><ymax>70</ymax><xmax>110</xmax><ymin>20</ymin><xmin>10</xmin></bndbox>"
                       "<name>cat</name></object>")
        << QList<Annotation>{cat} << QString();
    // Corners given the wrong way round are the box they span.
    QTest::newRow("reversed corners normalised")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>110</xmin><ymin>70</ymin><xmax>10</xmax><ymax>20</ymax>"
                       "</bndbox></object>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("reversed x only")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>110</xmin><ymin>20</ymin><xmax>10</xmax><ymax>70</ymax>"
                       "</bndbox></object>")
        << QList<Annotation>{cat} << QString();
    // What cannot be used is left out, and the reading says so: nothing is dropped silently.
    QTest::newRow("zero-width box dropped")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>10</xmin><ymin>20</ymin><xmax>10</xmax><ymax>70</ymax>"
                       "</bndbox></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("zero-height box dropped")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>10</xmin><ymin>20</ymin><xmax>110</xmax><ymax>20</ymax>"
                       "</bndbox></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("no bndbox dropped") << wrapObjects("<object><name>cat</name></object>") << QList<Annotation>{}
                                       << unusableFirst;
    QTest::newRow("an edge missing: dropped, not taken for 0")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>110</xmin><ymin>20</ymin><ymax>70</ymax></bndbox></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("empty name dropped") << wrapObjects("<object><name>  </name>" + catBox + "</object>")
                                        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("no name dropped") << wrapObjects("<object>" + catBox + "</object>") << QList<Annotation>{}
                                     << unusableFirst;
    QTest::newRow("two-point polygon dropped despite bndbox")
        << wrapObjects("<object><name>cat</name><polygon><points>1,1 5,5</points></polygon>" + catBox + "</object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("polygon without points dropped")
        << wrapObjects("<object><name>cat</name><polygon/>" + catBox + "</object>") << QList<Annotation>{}
        << unusableFirst;
    QTest::newRow("polygon keeps bndbox rect, extra spaces")
        << wrapObjects("<object><name>p</name><polygon><points> 1,2  3,4 5,0 </points></polygon>" + catBox
                       + "</object>")
        << QList<Annotation>{[] { Annotation a = polygon("p", {{1, 2}, {3, 4}, {5, 0}}); a.rect = QRectF(10, 20, 100, 50);
                                  return a; }()}
        << QString();
    QTest::newRow("polygon with a piece that is no point")
        << wrapObjects("<object><name>p</name><polygon><points>1,2 3,4 junk 5,6</points></polygon></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("polygon with a coordinate that is no number")
        << wrapObjects("<object><name>p</name><polygon><points>1,2 3,4 5,x</points></polygon></object>")
        << QList<Annotation>{} << unusableFirst;
    const QList<QPointF> catCorners{{10, 20}, {110, 20}, {110, 70}, {10, 70}};
    const Annotation turnedCat = [&] { Annotation a = rotated("cat", catCorners); a.rect = QRectF(10, 20, 100, 50);
                                       return a; }();
    QTest::newRow("robndbox beside its bndbox")
        << wrapObjects("<object><name>cat</name><robndbox><cx>60</cx><cy>45</cy><w>100</w><h>50</h><angle>0</angle>"
                       "</robndbox>" + catBox + "</object>")
        << QList<Annotation>{turnedCat} << QString();
    QTest::newRow("robndbox alone")
        << wrapObjects("<object><name>cat</name><robndbox><angle> 0 </angle><h>50</h><w>100</w><cy>45</cy><cx>60</cx>"
                       "</robndbox></object>")
        << QList<Annotation>{turnedCat} << QString();
    QTest::newRow("robndbox with a side of no number: its bndbox is the box")
        << wrapObjects("<object><name>cat</name><robndbox><cx>60</cx><cy>45</cy><w>wide</w><h>50</h><angle>0</angle>"
                       "</robndbox>" + catBox + "</object>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("robndbox without a turn, no bndbox: dropped")
        << wrapObjects("<object><name>cat</name><robndbox><cx>60</cx><cy>45</cy><w>100</w><h>50</h></robndbox></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("polygon with decimal commas")
        << wrapObjects("<object><name>p</name><polygon><points>1,5,2,5 3,5,4,5 5,5,6,5</points></polygon></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("decimal commas in the box")
        << wrapObjects("<object><name>cat</name><bndbox><xmin>10,5</xmin><ymin>20</ymin><xmax>110,5</xmax>"
                       "<ymax>70</ymax></bndbox></object>")
        << QList<Annotation>{} << unusableFirst;
    QTest::newRow("empty edge") << wrapObjects("<object><name>cat</name><bndbox><xmin></xmin><ymin>20</ymin><xmax>110</xmax>"
                                               "<ymax>70</ymax></bndbox></object>")
                                << QList<Annotation>{} << unusableFirst;
    QTest::newRow("six objects, two usable: the first unusable named")
        << wrapObjects("<object><name>cat</name>" + catBox + "</object>"
                       "<object><name>dog</name><bndbox><xmin>110</xmin><ymin>20</ymin><xmax>10</xmax><ymax>70</ymax>"
                       "</bndbox></object>"
                       "<object><name>zero</name><bndbox><xmin>10</xmin><ymin>20</ymin><xmax>10</xmax><ymax>70</ymax>"
                       "</bndbox></object>"
                       "<object><name></name>" + catBox + "</object>"
                       "<object><name>p</name><polygon><points>1,1 5,5</points></polygon>" + catBox + "</object>"
                       "<object><name>comma</name><bndbox><xmin>10,5</xmin><ymin>20</ymin><xmax>110</xmax>"
                       "<ymax>70</ymax></bndbox></object>")
        << QList<Annotation>{cat, box("dog", QRectF(10, 20, 100, 50))} << QStringLiteral("unusable_object 3");
    QTest::newRow("other tools' extras")
        << wrapObjects("<object><name>cat</name><pose>Left</pose><truncated>1</truncated><occluded>0</occluded>"
                       "<attributes><attribute><name>colour</name><value>black</value></attribute>"
                       "<attribute><name>age</name><value/></attribute></attributes>"
                       + catBox + "<extra/></object>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("VOC person layout parts")
        << wrapObjects("<object><name>person</name><part><name>head</name><bndbox><xmin>1</xmin><ymin>2</ymin>"
                       "<xmax>3</xmax><ymax>4</ymax></bndbox></part>"
                       "<bndbox><xmin>10</xmin><ymin>20</ymin><xmax>110</xmax><ymax>70</ymax></bndbox>"
                       "<part><name>hand</name><bndbox><xmin>5</xmin><ymin>6</ymin><xmax>7</xmax><ymax>8</ymax></bndbox>"
                       "</part></object>"
                       "<object><name>dog</name>" + catBox + "</object>")
        << QList<Annotation>{box("person", QRectF(10, 20, 100, 50)), box("dog", QRectF(10, 20, 100, 50))} << QString();
    // LabelImg marks an image as verified with an attribute; some tools write an element.
    QTest::newRow("verified attribute, no objects: a background image")
        << QByteArray("<annotation verified=\"yes\"><folder>ds</folder><filename>pic.png</filename><size><width>200"
                      "</width><height>100</height><depth>3</depth></size><segmented>0</segmented></annotation>")
        << QList<Annotation>{} << QString();
    QTest::newRow("verified element beside the objects")
        << wrapObjects("<verified>yes</verified><object><name>cat</name>" + catBox + "</object>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("CRLF, declaration with encoding")
        << QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<annotation>\r\n<object>\r\n<name>猫</name>\r\n"
                      + catBox + "\r\n</object>\r\n</annotation>\r\n")
        << QList<Annotation>{box("猫", QRectF(10, 20, 100, 50))} << QString();
    QTest::newRow("truncated file keeps finished objects")
        << QByteArray("<annotation><object><name>cat</name>" + catBox + "</object><object><name>dog</name><bndbox><xmin>1")
        << QList<Annotation>{cat} << QStringLiteral("xml_error 1");
    QTest::newRow("markup inside name ends reading")
        << wrapObjects("<object><name>cat</name>" + catBox + "</object>\n<object><name>a<b/>c</name>" + catBox
                       + "</object><object><name>dog</name>" + catBox + "</object>")
        << QList<Annotation>{cat} << QStringLiteral("xml_error 6");
    QTest::newRow("DOCTYPE with a small entity is read")
        << QByteArray("<!DOCTYPE annotation [<!ENTITY c \"cat\">]>\n<annotation><object><name>&c;</name>" + catBox
                      + "</object></annotation>")
        << QList<Annotation>{cat} << QString();
    QTest::newRow("entity bomb stops at the reader's limit")
        << Fixtures::vocEntityBomb() << QList<Annotation>{cat} << QStringLiteral("xml_error 12");
    // The reader leaves an external entity out of the text without a word: "a&x;b" would read "ab".
    QTest::newRow("external entity")
        << QByteArray("<!DOCTYPE annotation [<!ENTITY x SYSTEM \"file:///etc/hostname\">]>\n<annotation><object><name>"
                      "a&x;b</name>" + catBox + "</object></annotation>")
        << QList<Annotation>{box("ab", QRectF(10, 20, 100, 50))} << QStringLiteral("external_entity 1");
    QTest::newRow("not XML") << QByteArray("0 0.5 0.5 0.5 0.5\n") << QList<Annotation>{} << QStringLiteral("xml_error 1");
}

void TestVocFile::read()
{
    QFETCH(QByteArray, content);
    QFETCH(QList<Annotation>, expected);
    QFETCH(QString, problem);
    QVERIFY(Fixtures::writeBytes(m_xml, content));
    const StoredAnnotations stored = readStoredAnnotations(m_image);
    const QList<Annotation> &got = stored.annotations;
    QCOMPARE(got.size(), expected.size());
    for (qsizetype i = 0; i < got.size(); ++i)
        QCOMPARE(got[i], expected[i]);
    QCOMPARE(stored.complete(), problem.isEmpty());
    QCOMPARE(stored.damagedFile, problem.isEmpty() ? QString() : m_xml);
    const QString why = stored.problem.isNone() ? QString() : stored.problem.name() + ' ' + QString::number(stored.problem.at);
    QCOMPARE(why, problem);
}

void TestVocFile::countObjects_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<int>("expected");
    QTest::newRow("no objects") << wrapObjects("") << 0;
    QTest::newRow("invalid objects still count") << wrapObjects("<object/><object><name/></object>") << 2;
    QTest::newRow("stops at an error") << QByteArray("<annotation><object/><object></annotation><object/>") << 2;
    QTest::newRow("comment is not an object") << wrapObjects("<!-- <object> --><object/>") << 1;
    QTest::newRow("CDATA is not an object") << wrapObjects("<name><![CDATA[<object>]]></name><object/>") << 1;
    QTest::newRow("processing instruction is not an object")
        << QByteArray("<?xml version=\"1.0\"?><?pi <object>?><annotation><object/></annotation>") << 1;
    QTest::newRow("namespace prefix") << QByteArray("<v:annotation xmlns:v=\"u\"><v:object/></v:annotation>") << 1;
    QTest::newRow("quoted > in an attribute") << wrapObjects("<object note=\"a>b\" x='<object>'><name>a</name></object>")
                                              << 1;
    QTest::newRow("similar names") << wrapObjects("<objects/><object_2/><Object/>") << 0;
    QTest::newRow("entities") << wrapObjects("<object><name>a &amp; b</name></object>") << 1;
    QTest::newRow("truncated after an object") << QByteArray("<annotation><object><name>x</name></object><obj") << 1;
    QTest::newRow("content after the root") << QByteArray("<annotation/><object/>") << 0;
    QTest::newRow("CRLF and tabs") << QByteArray("<annotation>\r\n\t<object\r\n>\r\n\t</object>\r\n</annotation>\r\n") << 1;
    QStringEncoder utf16(QStringEncoder::Utf16, QStringEncoder::Flag::WriteBom);
    QTest::newRow("UTF-16") << QByteArray(utf16(QString::fromUtf8(wrapObjects("<object/><object/>")))) << 2;
}

void TestVocFile::countObjects()
{
    QFETCH(QByteArray, content);
    QFETCH(int, expected);
    QVERIFY(Fixtures::writeBytes(m_xml, content));
    QCOMPARE(countAnnotations(m_image), expected);
    QCOMPARE(countVocObjects(m_tmp->path() + "/missing.xml"), -1);
}

void TestVocFile::rootElement_data()
{
    QTest::addColumn<QByteArray>("content"); // null: no file; "dir": a directory
    QTest::addColumn<bool>("expected");
    QTest::newRow("declaration and comment") << QByteArray("<?xml version=\"1.0\"?>\n<!-- x -->\n<annotation/>") << true;
    QTest::newRow("byte order mark") << QByteArray("\xef\xbb\xbf<annotation><object/></annotation>") << true;
    QTest::newRow("doctype") << QByteArray("<!DOCTYPE annotation [<!ELEMENT annotation ANY>]><annotation/>") << true;
    QTest::newRow("namespace prefix") << QByteArray("<voc:annotation xmlns:voc=\"u\"/>") << true;
    QTest::newRow("long prologue") << QByteArray("<!--") + QByteArray(70000, 'x') + "-->\n<annotation/>" << true;
    QStringEncoder utf16(QStringEncoder::Utf16, QStringEncoder::Flag::WriteBom);
    QTest::newRow("UTF-16") << QByteArray(utf16(QStringLiteral("<?xml version=\"1.0\"?><annotation/>"))) << true;
    QTest::newRow("svg") << QByteArray("<?xml version=\"1.0\"?>\n<svg><annotation/></svg>") << false;
    QTest::newRow("plural") << QByteArray("<annotations><annotation/></annotations>") << false;
    QTest::newRow("upper case") << QByteArray("<Annotation/>") << false;
    QTest::newRow("text, not XML") << QByteArray("annotation") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("a directory") << QByteArray("dir") << false;
}

// Only a file whose root is <annotation> beside an image is a VOC file; anything else belongs to
// somebody else.
void TestVocFile::rootElement()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, expected);
    const QString path = m_tmp->path() + "/photos/pic.xml";
    if (content == "dir")
        QVERIFY(QDir().mkpath(path));
    else if (!content.isNull())
        QVERIFY(Fixtures::writeBytes(path, content));
    QCOMPARE(isVocAnnotationFile(path), expected);
    QCOMPARE(findVocFile(m_image), expected ? path : QString());
}

BRINDLE_TEST_MAIN(TestVocFile)
#include "tst_vocfile.moc"
