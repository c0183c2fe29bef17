#pragma once

#include "storagefixtures.h"

#include <QString>
#include <QStringList>

// Datasets laid out as other tools write them, each with one 200x100 image, built by the test.
namespace Layouts {

struct Layout
{
    QString image;       // the labelled image
    QString labelFile;   // where its labels are, as found; empty when it has none
    QStringList labels;  // what loading it gives, in order
    QStringList untouchable; // files beside it that belong to somebody else
};

// A VOC file with one box per name, each 20 pixels wide.
inline QByteArray vocXml(const QStringList &names)
{
    QByteArray xml = "<?xml version=\"1.0\"?>\n<!-- written by another tool -->\n<annotation>\n"
                     "  <folder>VOC2007</folder>\n";
    int x = 10;
    for (const QString &name : names) {
        xml += "  <object><name>" + name.toUtf8() + "</name><truncated>0</truncated><bndbox><xmin>"
               + QByteArray::number(x) + "</xmin><ymin>10</ymin><xmax>" + QByteArray::number(x + 20)
               + "</xmax><ymax>40</ymax></bndbox></object>\n";
        x += 30;
    }
    return xml + "</annotation>\n";
}

// A DOTA v1.5 labelTxt file as shipped: the two header lines, a turned box, a quadrilateral that
// is no rectangle and an upright box marked difficult, starting at its lower right corner.
inline QByteArray dotaSample()
{
    return "imagesource:GoogleEarth\n"
           "gsd:0.146343590398\n"
           "60.0 10.0 90.0 40.0 60.0 70.0 30.0 40.0 plane 0\n"
           "100.0 20.0 140.0 25.0 150.0 60.0 105.0 55.0 harbor 0\n"
           "190.0 95.0 160.0 95.0 160.0 80.0 190.0 80.0 small-vehicle 1\n";
}

inline bool write(const QString &path, const QByteArray &bytes)
{
    return Fixtures::writeBytes(path, bytes);
}

// Known names: "ours", "voc devkit", "voc devkit, lower-case folder", "xml beside", "yolo 1.1",
// "yolo 1.1, names beside", "labelimg yolo", "ultralytics list", "ultralytics map with a gap",
// "roboflow", "label studio", "captions", "foreign xml beside", "foreign xml in a devkit",
// "labelme beside", "x-anylabeling beside", "foreign json beside", "dota".
inline Layout build(const QString &root, const QString &name)
{
    Layout l;
    const QByteArray twoBoxes = "0 0.5 0.5 0.2 0.2\n1 0.25 0.25 0.1 0.1\n";
    bool ok = true;
    if (name == "ours") {
        l.image = root + "/ds/images/a.png";
        l.labelFile = root + "/ds/labels/a.txt";
        ok = write(l.labelFile, twoBoxes) && write(root + "/ds/labels/classes.txt", "cat\ndog\n");
        l.labels = QStringList{"cat", "dog"};
    } else if (name == "voc devkit" || name == "voc devkit, lower-case folder") {
        const QString folder = name == "voc devkit" ? "JPEGImages" : "jpegimages";
        l.image = root + "/VOC2007/" + folder + "/000001.jpg";
        l.labelFile = root + "/VOC2007/Annotations/000001.xml";
        ok = write(l.labelFile, vocXml({"dog", "person"}));
        l.labels = QStringList{"dog", "person"};
    } else if (name == "xml beside") {
        l.image = root + "/photos/b.png";
        l.labelFile = root + "/photos/b.xml";
        ok = write(l.labelFile, vocXml({"cat"}));
        l.labels = QStringList{"cat"};
    } else if (name == "yolo 1.1" || name == "yolo 1.1, names beside") {
        l.image = root + "/task/obj_train_data/c.png";
        l.labelFile = root + "/task/obj_train_data/c.txt";
        const QString names = name == "yolo 1.1" ? root + "/task/obj.names" : root + "/task/obj_train_data/obj.names";
        ok = write(names, "cat\ndog\n") && write(l.labelFile, "1 0.5 0.5 0.2 0.2\n")
            && write(root + "/task/obj.data", "classes = 2\nnames = data/obj.names\n");
        l.labels = QStringList{"dog"};
        l.untouchable = QStringList{names};
    } else if (name == "labelimg yolo") {
        l.image = root + "/shots/d.png";
        l.labelFile = root + "/shots/d.txt";
        ok = write(root + "/shots/classes.txt", "cat\ndog\n") && write(l.labelFile, twoBoxes);
        l.labels = QStringList{"cat", "dog"};
    } else if (name == "ultralytics list") {
        l.image = root + "/ul/images/train/e.png";
        l.labelFile = root + "/ul/labels/train/e.txt";
        ok = write(root + "/ul/data.yaml", "path: ../ul\ntrain: images/train\nnames: [person, car]\n")
            && write(l.labelFile, "1 0.5 0.5 0.2 0.2\n0 0.5 0.5 0.1 0.1\n");
        l.labels = QStringList{"car", "person"};
        l.untouchable = QStringList{root + "/ul/data.yaml"};
    } else if (name == "ultralytics map with a gap") {
        l.image = root + "/ul/images/train/e.png";
        l.labelFile = root + "/ul/labels/train/e.txt";
        ok = write(root + "/ul/data.yaml", "names:\n  0: person\n  2: car\nnc: 3\n")
            && write(l.labelFile, "2 0.5 0.5 0.2 0.2\n1 0.5 0.5 0.1 0.1\n");
        l.labels = QStringList{"car", "1"};
        l.untouchable = QStringList{root + "/ul/data.yaml"};
    } else if (name == "roboflow") {
        l.image = root + "/rf/train/images/f.jpg";
        l.labelFile = root + "/rf/train/labels/f.txt";
        ok = write(root + "/rf/data.yaml", "train: ../train/images\nnc: 2\nnames: ['helmet', 'head']\n")
            && write(l.labelFile, "1 0.5 0.5 0.2 0.2\n");
        l.labels = QStringList{"head"};
        l.untouchable = QStringList{root + "/rf/data.yaml"};
    } else if (name == "label studio") {
        l.image = root + "/ls/images/g.png";
        l.labelFile = root + "/ls/labels/g.txt";
        ok = write(root + "/ls/classes.txt", "crack\nrust\n") && write(root + "/ls/notes.json", "{}")
            && write(l.labelFile, "1 0.5 0.5 0.2 0.2\n");
        l.labels = QStringList{"rust"};
        l.untouchable = QStringList{root + "/ls/classes.txt"};
    } else if (name == "captions") {
        l.image = root + "/captions/h.png";
        ok = write(root + "/captions/h.txt", "0 a photo of a dog on a sofa\n");
        l.untouchable = QStringList{root + "/captions/h.txt"};
    } else if (name == "foreign xml beside") {
        l.image = root + "/svg/i.png";
        ok = write(root + "/svg/i.xml", "<?xml version=\"1.0\"?>\n<svg><object><name>x</name></object></svg>\n");
        l.untouchable = QStringList{root + "/svg/i.xml"};
    } else if (name == "foreign xml in a devkit") {
        l.image = root + "/VOC/JPEGImages/j.jpg";
        ok = write(root + "/VOC/Annotations/j.xml", "<metadata><object/></metadata>\n");
        l.untouchable = QStringList{root + "/VOC/Annotations/j.xml"};
    } else if (name == "labelme beside") {
        l.image = root + "/lm/k.jpg";
        l.labelFile = root + "/lm/k.json";
        ok = write(l.labelFile, R"({"version": "5.2.1", "flags": {}, "shapes": [
            {"label": "cat", "points": [[10, 10], [50, 40]], "group_id": null, "shape_type": "rectangle", "flags": {}},
            {"label": "dog", "points": [[60, 10], [90, 10], [75, 40]], "group_id": 3, "shape_type": "polygon",
             "flags": {}}], "imagePath": "k.jpg", "imageData": null, "imageHeight": 100, "imageWidth": 200})");
        l.labels = QStringList{"cat", "dog"};
    } else if (name == "x-anylabeling beside") {
        l.image = root + "/xal/m.png";
        l.labelFile = root + "/xal/m.json";
        ok = write(l.labelFile, R"({"version": "2.4.4", "flags": {}, "shapes": [
            {"label": "car", "score": null, "points": [[10, 10], [50, 10], [50, 40], [10, 40]], "group_id": null,
             "description": "", "difficult": false, "shape_type": "rectangle", "flags": {}, "attributes": {}}],
            "imagePath": "m.png", "imageData": null, "imageHeight": 100, "imageWidth": 200})");
        l.labels = QStringList{"car"};
    } else if (name == "foreign json beside") {
        l.image = root + "/meta/n.png";
        ok = write(root + "/meta/n.json", R"({"caption": "a dog", "exif": {"iso": 100}})");
        l.untouchable = QStringList{root + "/meta/n.json"};
    } else if (name == "dota") {
        l.image = root + "/DOTA/train/images/P0001.png";
        l.labelFile = root + "/DOTA/train/labelTxt/P0001.txt";
        ok = write(l.labelFile, dotaSample());
        l.labels = QStringList{"plane", "harbor", "small-vehicle"};
    } else {
        ok = false;
    }
    if (!ok || !Fixtures::makeImage(l.image, 200, 100))
        return Layout();
    return l;
}

} // namespace Layouts
