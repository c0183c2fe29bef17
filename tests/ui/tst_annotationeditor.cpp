#include "ui/annotationeditor.h"
#include "ui/imagehistories.h"

#include "canvas/annotationscene.h"
#include "session/categoryhistory.h"
#include "shared/language.h"

#include "testmain.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QTemporaryDir>
#include <QSettings>
#include <QUndoStack>

// The edit rules without a window: a scene, the category history and the editor over them.
// Gestures the scene reports (a drag, a nudge) are played as its signals.
namespace {

Annotation box(const QString &label, const QRectF &rect, int pending = 0)
{
    Annotation a;
    a.label = label;
    a.rect = rect;
    a.pending = pending;
    if (pending)
        a.confidence = 0.9;
    return a;
}

QString describe(const QList<Annotation> &list)
{
    QStringList parts;
    for (const Annotation &a : list) {
        const QRectF r = a.rect;
        parts.append(QStringLiteral("%1 %2 %3,%4%5").arg(a.id).arg(a.label).arg(r.x()).arg(r.y())
                         .arg(a.pending ? QStringLiteral(" pending") : QString()));
    }
    return parts.join(QStringLiteral("; "));
}

struct Editing
{
    Editing()
        : history({QStringLiteral("cat"), QStringLiteral("dog"), QStringLiteral("bird")})
        , editor(&scene, &history)
    {
        QImage image(1000, 800, QImage::Format_RGB32);
        image.fill(Qt::darkGray);
        scene.setImage(image);
        // 1 cat, 2 dog confirmed; 3, 4, 5 pending in reading order.
        editor.load({box("cat", QRectF(100, 100, 50, 50)), box("dog", QRectF(300, 100, 50, 50)),
                     box("car", QRectF(500, 100, 40, 40), 1), box("car", QRectF(100, 400, 40, 40), 1),
                     box("car", QRectF(500, 400, 40, 40), 1)});
    }

    Annotation shape(uint id) const { return *editor.annotation(id); }

    // A drag of shape id by (dx, dy), as the scene reports one when the mouse is released.
    void drag(uint id, double dx, double dy)
    {
        const Annotation before = shape(id);
        Annotation after = before;
        after.rect.translate(dx, dy);
        after.pending = 0;
        scene.applyState(id, after);
        emit scene.annotationEdited(id, before, after);
    }

    // One step of a script: "draw fox", "drag N", "key N" (a number key: category of row N of
    // cat, dog, bird), "select N", "nudge", "relabel N NAME", "enter", "esc", "undo".
    void run(const QString &script)
    {
        for (const QString &step : script.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            const QStringList w = step.trimmed().split(QLatin1Char(' '));
            const QString &verb = w.first();
            if (verb == u"draw")
                editor.addShape(box(QString(), QRectF(700, 600, 60, 60)), w.value(1));
            else if (verb == u"drag")
                drag(w.value(1).toUInt(), 10, 5);
            else if (verb == u"key")
                editor.applyCategoryKey(history.labels().at(w.value(1).toInt() - 1));
            else if (verb == u"select")
                scene.selectId(w.value(1).toUInt(), false, true);   // the user's pick
            else if (verb == u"nudge")
                scene.nudgeSelected(1, 0);
            else if (verb == u"relabel")
                editor.relabel(w.value(1).toUInt(), w.value(2));
            else if (verb == u"enter")
                last = editor.confirmCurrent();
            else if (verb == u"esc")
                last = editor.escape();
            else if (verb == u"undo")
                editor.undoStack()->undo();
            else
                QFAIL(qPrintable(QStringLiteral("unknown step ") + step));
        }
    }

    AnnotationScene scene;
    CategoryHistory history;
    AnnotationEditor editor;
    AnnotationEditor::Review last;
};

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

const char *const kStart = "1 cat 100,100; 2 dog 300,100; 3 car 500,100 pending; 4 car 100,400 pending; "
                           "5 car 500,400 pending";

} // namespace

class TestAnnotationEditor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void steps_data();
    void steps();
    void numberKeys_data();
    void numberKeys();
    void review_data();
    void review();
    void savedShapeNumbers();
    void categoryHistory_data();
    void categoryHistory();
    void historyPerImage_data();
    void historyPerImage();
};

void TestAnnotationEditor::init()
{
    setLanguage(QStringLiteral("zh_CN"));
    QSettings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark")).clear();
}

// Which edits become one undo step, and what one undo gives back.
void TestAnnotationEditor::steps_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<QString>("afterOneUndo");

    const QString start = QString::fromUtf8(kStart);
    QTest::newRow("a drawn shape then dragged: undo moves it back")
        << "draw fox; drag 6" << QStringList{"添加标注", "调整标注"} << start + "; 6 fox 700,600";
    QTest::newRow("a drawn shape then nudged: undo moves it back")
        << "draw fox; nudge" << QStringList{"添加标注", "移动标注"} << start + "; 6 fox 700,600";
    QTest::newRow("a drawn shape then relabelled: undo gives the old name")
        << "draw fox; relabel 6 dog" << QStringList{"添加标注", "修改类别"} << start + "; 6 fox 700,600";
    QTest::newRow("two drags of one shape are one step") << "drag 1; drag 1" << QStringList{"调整标注"} << start;
    QTest::newRow("a relabel then a drag are one step named after the relabel")
        << "relabel 1 dog; drag 1" << QStringList{"修改类别"} << start;
}

void TestAnnotationEditor::steps()
{
    QFETCH(QString, script);
    QFETCH(QStringList, texts);
    QFETCH(QString, afterOneUndo);

    Editing e;
    QCOMPARE(describe(e.scene.annotations()), QString::fromUtf8(kStart));
    e.run(script);
    QStringList seen;
    for (int i = 0; i < e.editor.undoStack()->count(); ++i)
        seen.append(e.editor.undoStack()->text(i));
    QCOMPARE(seen, texts);
    e.run(QStringLiteral("undo"));
    QCOMPARE(describe(e.scene.annotations()), afterOneUndo);
}

// A number key relabels what the user selected; the shape just drawn is selected for the arrows,
// not for the keys: a digit then chooses the next shape's category.
void TestAnnotationEditor::numberKeys_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("labels");   // of shapes 1, 2 and the drawn 6
    QTest::addColumn<QString>("offered");  // the category offered for the next shape
    QTest::addColumn<int>("outcome");      // of the last key: shapes relabelled, -1 the next shape's

    QTest::newRow("nothing selected: the next shape") << "key 3" << "cat dog -" << "bird" << -1;
    QTest::newRow("a shape selected: relabelled") << "select 1; key 3" << "bird dog -" << "bird" << 1;
    QTest::newRow("a shape with that category: unchanged") << "select 1; key 1" << "cat dog -" << "" << 0;
    QTest::newRow("right after drawing: the next shape")
        << "draw fox; key 2" << "cat dog fox" << "dog" << -1;
    QTest::newRow("after drawing and nudging: still the next shape")
        << "draw fox; nudge; key 2" << "cat dog fox" << "dog" << -1;
    QTest::newRow("the drawn shape selected again: relabelled")
        << "draw fox; select 1; select 6; key 2" << "cat dog dog" << "dog" << 1;
    QTest::newRow("another shape selected after drawing: relabelled")
        << "draw fox; select 2; key 3" << "cat bird fox" << "bird" << 1;
    QTest::newRow("the result selected after a confirmation: the next shape")
        << "select 1; select 3; enter; key 2" << "cat dog -" << "dog" << -1;
}

void TestAnnotationEditor::numberKeys()
{
    QFETCH(QString, script);
    QFETCH(QString, labels);
    QFETCH(QString, offered);
    QFETCH(int, outcome);

    Editing e;
    const QStringList steps = script.split(QLatin1Char(';'));
    e.run(steps.mid(0, steps.size() - 1).join(QLatin1Char(';')));
    const QString key = steps.last().trimmed();
    const AnnotationEditor::CategoryKey done = e.editor.applyCategoryKey(e.history.labels().at(key.mid(4).toInt() - 1));
    QCOMPARE(done.nextShape ? -1 : done.relabelled, outcome);
    const std::optional<Annotation> drawn = e.editor.annotation(6);
    QCOMPARE(QStringLiteral("%1 %2 %3").arg(e.shape(1).label, e.shape(2).label, drawn ? drawn->label : QStringLiteral("-")),
             labels);
    QCOMPARE(e.history.lastLabel(), offered);
}

// Enter and Esc decide a model result and select the next in reading order.
void TestAnnotationEditor::review_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QString>("after");
    QTest::addColumn<QList<uint>>("selected");
    QTest::addColumn<bool>("noneLeft");

    QTest::newRow("Enter with nothing selected: the first, then the second selected")
        << "enter" << "1 cat 100,100; 2 dog 300,100; 3 car 500,100; 4 car 100,400 pending; 5 car 500,400 pending"
        << QList<uint>{4} << false;
    QTest::newRow("Esc on the second: the third selected")
        << "select 4; esc" << "1 cat 100,100; 2 dog 300,100; 3 car 500,100 pending; 5 car 500,400 pending"
        << QList<uint>{5} << false;
    QTest::newRow("after the last: back to the first")
        << "select 5; enter" << "1 cat 100,100; 2 dog 300,100; 3 car 500,100 pending; 4 car 100,400 pending; 5 car 500,400"
        << QList<uint>{3} << false;
    QTest::newRow("Enter, Enter, Esc: none left, nothing selected")
        << "enter; enter; esc" << "1 cat 100,100; 2 dog 300,100; 3 car 500,100; 4 car 100,400" << QList<uint>{} << true;
    QTest::newRow("Enter on a confirmed shape decides nothing")
        << "select 1; enter" << QString::fromUtf8(kStart) << QList<uint>{1} << false;
    // Any way of confirming a result drops the model's score with its pending mark.
    QTest::newRow("a result given a category by a key")
        << "select 3; key 2" << "1 cat 100,100; 2 dog 300,100; 3 dog 500,100; 4 car 100,400 pending; 5 car 500,400 pending"
        << QList<uint>{3} << false;
    QTest::newRow("a result dragged")
        << "drag 4" << "1 cat 100,100; 2 dog 300,100; 3 car 500,100 pending; 4 car 110,405; 5 car 500,400 pending"
        << QList<uint>{} << false;
}

void TestAnnotationEditor::review()
{
    QFETCH(QString, script);
    QFETCH(QString, after);
    QFETCH(QList<uint>, selected);
    QFETCH(bool, noneLeft);

    Editing e;
    e.run(script);
    QCOMPARE(describe(e.scene.annotations()), after);
    QCOMPARE(e.scene.selectedIds(), selected);
    QCOMPARE(e.last.noneLeft, noneLeft);
    // A confirmed result is a label: its model score is gone; the next one is selected for the
    // user's eyes, not as the user's pick.
    for (const Annotation &a : e.scene.annotations())
        QCOMPARE(a.confidence, a.pending ? 0.9 : -1.0);
    if (e.last.confirmed + e.last.rejected > 0)
        QVERIFY(!e.scene.hasPointedSelection());
}

// The place of each saved shape in its label file: confirmed, named, in id order.
void TestAnnotationEditor::savedShapeNumbers()
{
    Editing e;
    e.run(QStringLiteral("select 4; enter; draw fox"));   // 4 confirmed, 6 drawn; 3 and 5 pending
    const QHash<uint, int> numbers = e.editor.savedShapeNumbers();
    QCOMPARE(numbers, (QHash<uint, int>{{1, 1}, {2, 2}, {4, 3}, {6, 4}}));
    QVERIFY(e.editor.selectSavedShape(3));
    QCOMPARE(e.scene.selectedIds(), QList<uint>{4});
    QVERIFY(!e.editor.selectSavedShape(5));
}

void TestAnnotationEditor::categoryHistory_data()
{
    QTest::addColumn<QString>("script");   // "use X", "found X", "delete X", "restore X"
    QTest::addColumn<QStringList>("labels");

    QTest::newRow("using a category keeps the order") << "use bird; use cat" << QStringList{"cat", "dog", "bird"};
    QTest::newRow("a new category joins the end") << "use fox" << QStringList{"cat", "dog", "bird", "fox"};
    QTest::newRow("a category found in a file joins the end") << "found fox" << QStringList{"cat", "dog", "bird", "fox"};
    QTest::newRow("a deleted category is not taken from files again")
        << "delete dog; found dog" << QStringList{"cat", "bird"};
    QTest::newRow("a deleted category the user names again comes back")
        << "delete dog; use dog" << QStringList{"cat", "bird", "dog"};
    QTest::newRow("undoing the deletion brings it back at the end")
        << "delete cat; restore cat; found cat" << QStringList{"dog", "bird", "cat"};
}

void TestAnnotationEditor::categoryHistory()
{
    QFETCH(QString, script);
    QFETCH(QStringList, labels);

    CategoryHistory history({QStringLiteral("cat"), QStringLiteral("dog"), QStringLiteral("bird")});
    for (const QString &step : script.split(QLatin1Char(';'))) {
        const QStringList w = step.trimmed().split(QLatin1Char(' '));
        if (w.first() == u"use")
            history.remember(w.value(1));
        else if (w.first() == u"found")
            history.rememberFound({w.value(1)});
        else if (w.first() == u"delete")
            history.remove(w.value(1));
        else
            history.restore(w.value(1));
    }
    QCOMPARE(history.labels(), labels);
    // Stored, with what was deleted, for the next start.
    QSettings settings(QStringLiteral("Brindlemark"), QStringLiteral("Brindlemark"));
    if (settings.contains(QStringLiteral("labels")))
        QCOMPARE(settings.value(QStringLiteral("labels")).toStringList(), labels);
    const QStringList deleted = settings.value(QStringLiteral("deletedLabels")).toStringList();
    CategoryHistory restarted(labels, deleted);
    restarted.rememberFound({QStringLiteral("dog")});
    QCOMPARE(restarted.labels().contains(QStringLiteral("dog")),
             labels.contains(QStringLiteral("dog")) || !script.contains(QStringLiteral("delete dog")));
}

// Each image keeps its undo history while the user steps away and back, unless what it was
// made on changed meanwhile.
void TestAnnotationEditor::historyPerImage_data()
{
    QTest::addColumn<QString>("meanwhile");   // what happens while the user is on other images
    QTest::addColumn<int>("visitedBetween");  // other images edited before coming back
    QTest::addColumn<bool>("undoes");

    QTest::newRow("nothing: Ctrl+Z undoes the last edit") << "" << 1 << true;
    QTest::newRow("its label file rewritten by another program") << "file" << 1 << false;
    QTest::newRow("its records changed (a model run merged results)") << "records" << 1 << false;
    // The image itself is one of the histories kept.
    QTest::newRow("back after 49 others: one of the last 50") << "" << ImageHistories::kKeptImages - 1 << true;
    QTest::newRow("back after 50 others: dropped") << "" << ImageHistories::kKeptImages << false;
}

void TestAnnotationEditor::historyPerImage()
{
    QFETCH(QString, meanwhile);
    QFETCH(int, visitedBetween);
    QFETCH(bool, undoes);

    QTemporaryDir dir;
    const QString first = dir.filePath(QStringLiteral("a.jpg"));
    const QString label = dir.filePath(QStringLiteral("labels/a.txt"));
    QVERIFY(writeFile(label, "0 0.5 0.5 0.1 0.1\n"));
    Editing e;
    e.editor.enter(QString(), first, e.scene.annotations());
    e.run(QStringLiteral("drag 1"));
    e.editor.markSaved();   // the window saves before it steps
    QList<Annotation> left = e.scene.annotations();
    const QString other = dir.filePath(QStringLiteral("b%1.jpg"));
    e.editor.enter(first, other.arg(0), {box("cat", QRectF(10, 10, 5, 5))});
    for (int i = 1; i < visitedBetween; ++i) {
        e.run(QStringLiteral("draw fox"));
        e.editor.markSaved();
        e.editor.enter(other.arg(i - 1), other.arg(i), {box("cat", QRectF(10, 10, 5, 5))});
    }
    e.run(QStringLiteral("draw fox"));
    e.editor.markSaved();
    if (meanwhile == u"file") {
        QTest::qWait(20);   // a stamp of another tick
        QVERIFY(writeFile(label, "1 0.5 0.5 0.1 0.1\n"));
    } else if (meanwhile == u"records") {
        left.append(box("car", QRectF(600, 600, 40, 40), 1));
    }
    e.editor.enter(other.arg(visitedBetween - 1), first, left);

    QCOMPARE(e.editor.undoStack()->canUndo(), undoes);
    QVERIFY(!e.editor.isDirty());
    if (!undoes)
        return;
    QCOMPARE(e.shape(1).rect.topLeft(), QPointF(110, 105));
    e.run(QStringLiteral("undo"));
    QCOMPARE(e.shape(1).rect.topLeft(), QPointF(100, 100));
    QVERIFY(e.editor.isDirty());   // saved as any edit is
    e.editor.undoStack()->redo();
    QVERIFY(!e.editor.isDirty());  // back where it was saved
}

BRINDLE_TEST_MAIN(TestAnnotationEditor)
#include "tst_annotationeditor.moc"
