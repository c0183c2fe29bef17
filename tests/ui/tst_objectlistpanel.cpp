#include "ui/objectlistpanel.h"

#include "canvas/labelcolor.h"
#include "shared/language.h"
#include "ui/categorydelegate.h"
#include "ui/panelroles.h"

#include "stylesheet.h"
#include "support/annotationbuilders.h"
#include "testmain.h"

#include <QLabel>
#include <QListWidget>
#include <QScrollBar>
#include <QToolButton>

namespace {

// The panel lists shapes under their scene ids.
Annotation box(uint id, const QString &label, const QRectF &rect, bool pending = false, double confidence = -1)
{
    Annotation a = ::box(label, rect, pending ? 1 : 0, confidence);
    a.id = id;
    return a;
}

// A polygon of the given number of points on a circle.
Annotation ring(uint id, const QString &label, int points, double confidence = -1)
{
    QList<QPointF> circle;
    for (int i = 0; i < points; ++i)
        circle.append(QPointF(100 + 40 * std::cos(i * 6.283 / points), 100 + 40 * std::sin(i * 6.283 / points)));
    Annotation a = polygon(label, circle, 0, confidence);
    a.id = id;
    a.rect = QPolygonF(circle).boundingRect();
    return a;
}

QListWidget *objectList(ObjectListPanel &panel)
{
    return panel.findChild<QListWidget *>(QStringLiteral("objectList"));
}

QListWidget *categoryList(ObjectListPanel &panel)
{
    return panel.findChild<QListWidget *>(QStringLiteral("categoryList"));
}

QList<uint> rowIds(ObjectListPanel &panel)
{
    QList<uint> ids;
    QListWidget *list = objectList(panel);
    for (int i = 0; i < list->count(); ++i)
        ids << list->item(i)->data(ObjectRole::Id).toUInt();
    return ids;
}

QLabel *emptyLabel(ObjectListPanel &panel)
{
    return objectList(panel)->viewport()->findChild<QLabel *>();
}

// A point of a category row: "body", "cross", "check", or an edge of a hit zone.
QPoint zonePoint(QListWidget *list, int row, const QString &zone)
{
    const QRect r = list->visualItemRect(list->item(row));
    const int y = r.center().y();
    static const QHash<QString, int> fromRight = {
        {"cross", 13}, {"crossEdge", 26}, {"check", 37}, {"checkRightEdge", 27},
        {"checkLeftEdge", 48}, {"beforeCheck", 49},
    };
    if (zone == QLatin1String("body"))
        return QPoint(r.left() + 60, y);
    return QPoint(r.right() - fromRight.value(zone), y);
}

QList<bool> askingFlags(QListWidget *list)
{
    QList<bool> flags;
    for (int i = 0; i < list->count(); ++i)
        flags << list->item(i)->data(CategoryRole::Confirming).toBool();
    return flags;
}

void showPanel(ObjectListPanel &panel)
{
    panel.resize(270, 560);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
}

} // namespace

class TestObjectListPanel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void objectRowTexts_data();
    void objectRowTexts();
    void refreshInPlaceKeepsOrder();
    void rowsFitTheViewport();
    void objectClicks();
    void emptyLabel();
    void categoryRows();
    void categoryDelete_data();
    void categoryDelete();
    void doubleClickOnDeleteZonesDoesNothingElse();
    void categoryClicks();
    void categoryEye_data();
    void categoryEye();
    void confirmationSurvivesRefresh();
    void categoryAtRow();
    void retranslates();
    void textsFitInEveryLanguage_data();
    void textsFitInEveryLanguage();
    void renders_data();
    void renders();
};

void TestObjectListPanel::initTestCase()
{
    QVERIFY(installSourceStyleSheet());
    registerAnnotationMetaTypes();
}

void TestObjectListPanel::init()
{
    setLanguage(QStringLiteral("zh_CN"));
}

void TestObjectListPanel::objectRowTexts_data()
{
    QTest::addColumn<Annotation>("annotation");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("detail");
    QTest::addColumn<QColor>("color");
    QTest::addColumn<int>("number");   // its place in the label file, as check findings name it
    const QColor pendingColor(0xE2, 0xB9, 0x3D);
    QTest::newRow("box size truncated") << box(1, "car", QRectF(10, 10, 120.9, 80.2)) << "car" << "120×80"
                                        << labelColor("car") << 1;
    QTest::newRow("box drawn backwards") << box(1, "car", QRectF(130, 90, -120.9, -80.2)) << "car" << "120×80"
                                         << labelColor("car") << 4;
    QTest::newRow("polygon point count") << ring(2, "tree", 5) << "tree" << "5点" << labelColor("tree") << 2;
    QTest::newRow("unnamed shape") << box(3, "", QRectF(0, 0, 4, 4)) << "(未命名)" << "4×4" << labelColor("") << 0;
    QTest::newRow("pending result") << box(4, "dog", QRectF(0, 0, 50, 20), true, 0.87) << "dog" << "50×20"
                                    << pendingColor << 0;
}

void TestObjectListPanel::objectRowTexts()
{
    QFETCH(Annotation, annotation);
    QFETCH(QString, name);
    QFETCH(QString, detail);
    QFETCH(QColor, color);
    QFETCH(int, number);

    ObjectListPanel panel;
    QHash<uint, int> numbers;
    if (number > 0)
        numbers.insert(annotation.id, number);
    panel.refreshObjects({annotation}, 0, numbers);
    const QListWidgetItem *item = objectList(panel)->item(0);
    QCOMPARE(item->text(), name);
    QCOMPARE(item->data(ObjectRole::Detail).toString(), detail);
    QCOMPARE(item->data(ObjectRole::Color).value<QColor>(), color);
    QCOMPARE(item->data(ObjectRole::Id).toUInt(), uint(annotation.id));
    QCOMPARE(item->data(ObjectRole::Pending).toBool(), annotation.pending == 1);
    QCOMPARE(item->data(ObjectRole::Polygon).toBool(), annotation.kind == Annotation::Polygon);
    QCOMPARE(item->data(ObjectRole::Confidence).toDouble(), annotation.confidence);
    QCOMPARE(item->data(ObjectRole::Number).toInt(), number);
}

void TestObjectListPanel::refreshInPlaceKeepsOrder()
{
    ObjectListPanel panel;
    showPanel(panel);
    QSignalSpy activated(&panel, &ObjectListPanel::rowActivated);
    panel.refreshObjects({box(1, "a", QRectF(0, 0, 10, 10)), box(2, "b", QRectF(0, 0, 20, 20)),
                          box(3, "c", QRectF(0, 0, 30, 30))}, 2);
    QCOMPARE(rowIds(panel), (QList<uint>{1, 2, 3}));
    QListWidget *list = objectList(panel);
    QCOMPARE(list->currentRow(), 1);
    QCOMPARE(list->selectedItems().size(), 1);
    QVERIFY(list->item(1)->isSelected());

    // The same ids in another order (the scene moved shape 3 to the end of its list): rows stay.
    QListWidgetItem *third = list->item(2);
    panel.refreshObjects({box(3, "c", QRectF(5, 5, 33.7, 31)), box(1, "a", QRectF(0, 0, 10, 10)),
                          box(2, "b2", QRectF(0, 0, 20, 20))}, 3);
    QCOMPARE(rowIds(panel), (QList<uint>{1, 2, 3}));
    QCOMPARE(list->item(2), third);   // refilled, not rebuilt
    QCOMPARE(third->data(ObjectRole::Detail).toString(), QStringLiteral("33×31"));
    QCOMPARE(list->item(1)->text(), QStringLiteral("b2"));
    QCOMPARE(list->currentRow(), 2);
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{third});

    // A new id rebuilds in the given order; selection 0 selects nothing.
    panel.refreshObjects({box(4, "d", QRectF()), box(1, "a", QRectF()), box(2, "b", QRectF())}, 0);
    QCOMPARE(rowIds(panel), (QList<uint>{4, 1, 2}));
    QVERIFY(list->selectedItems().isEmpty());
    // Fewer shapes rebuild too.
    panel.refreshObjects({box(1, "a", QRectF())}, 1);
    QCOMPARE(rowIds(panel), QList<uint>{1});
    QCOMPARE(activated.count(), 0);
}

void TestObjectListPanel::rowsFitTheViewport()
{
    ObjectListPanel panel;
    showPanel(panel);
    QList<Annotation> many;
    for (uint id = 1; id <= 40; ++id)
        many << box(id, QStringLiteral("obj%1").arg(id), QRectF(0, 0, id, id));
    panel.refreshObjects(many, 40);
    QListWidget *list = objectList(panel);
    QTRY_VERIFY(list->verticalScrollBar()->isVisible());
    QCoreApplication::processEvents();
    // Rows never reach under the scroll bar, where their right-hand texts would be cut off.
    const QRect row = list->visualItemRect(list->item(39));
    QVERIFY2(list->viewport()->rect().contains(row),
             qPrintable(QStringLiteral("row %1..%2, viewport width %3").arg(row.left()).arg(row.right())
                            .arg(list->viewport()->width())));
}

void TestObjectListPanel::objectClicks()
{
    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshObjects({box(7, "car", QRectF(0, 0, 10, 10)), box(9, "dog", QRectF(0, 0, 5, 5), true, 0.9)}, 0);
    QSignalSpy activated(&panel, &ObjectListPanel::rowActivated);
    QSignalSpy confirmed(&panel, &ObjectListPanel::rowConfirmed);
    QListWidget *list = objectList(panel);
    const QPoint normal = list->visualItemRect(list->item(0)).center();
    const QPoint pending = list->visualItemRect(list->item(1)).center();

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, normal);
    QCOMPARE(activated.count(), 1);
    QCOMPARE(activated.last().at(0).toUInt(), 7u);

    // A double-click is a click and then the double-click itself.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, pending);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, pending);
    QCOMPARE(activated.count(), 2);
    QCOMPARE(activated.last().at(0).toUInt(), 9u);
    QCOMPARE(confirmed.count(), 1);
    QCOMPARE(confirmed.last().at(0).toUInt(), 9u);

    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, normal);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, normal);
    QCOMPARE(activated.count(), 4);
    QCOMPARE(activated.last().at(0).toUInt(), 7u);
    QCOMPARE(confirmed.count(), 1);
}

void TestObjectListPanel::emptyLabel()
{
    ObjectListPanel panel;
    showPanel(panel);
    QLabel *label = ::emptyLabel(panel);
    QVERIFY(label);
    QCOMPARE(label->text(), QStringLiteral("暂无标注对象"));
    QVERIFY(label->isVisible());
    QVERIFY(label->testAttribute(Qt::WA_TransparentForMouseEvents));
    QCOMPARE(label->alignment(), Qt::AlignCenter);
    QListWidget *list = objectList(panel);
    QCOMPARE(label->geometry(), list->viewport()->rect());

    panel.refreshObjects({box(1, "a", QRectF())}, 0);
    QVERIFY(!label->isVisible());
    panel.refreshObjects({}, 0);
    QVERIFY(label->isVisible());
    panel.resize(270, 800);
    QTRY_COMPARE(label->geometry(), list->viewport()->rect());
}

void TestObjectListPanel::categoryRows()
{
    ObjectListPanel panel;
    showPanel(panel);
    QSignalSpy added(&panel, &ObjectListPanel::addCategoryClicked);
    panel.refreshCategories({"person", "car", "dog"}, {{"person", 3}, {"car", 1}}, "car");
    QListWidget *list = categoryList(panel);
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(2)->data(CategoryRole::Count).toInt(), 0);   // missing count
    QCOMPARE(list->item(0)->data(CategoryRole::Color).value<QColor>(), labelColor("person"));
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(1)});

    // Unchanged names and counts: only the selection follows.
    QListWidgetItem *first = list->item(0);
    panel.refreshCategories({"person", "car", "dog"}, {{"person", 3}, {"car", 1}, {"dog", 0}}, "dog");
    QCOMPARE(list->item(0), first);
    QCOMPARE(list->selectedItems(), QList<QListWidgetItem *>{list->item(2)});

    QToolButton *add = panel.findChild<QToolButton *>();
    QCOMPARE(add->objectName(), QStringLiteral("flatTool"));
    QTest::mouseClick(add, Qt::LeftButton);
    QCOMPARE(added.count(), 1);
}

void TestObjectListPanel::categoryDelete_data()
{
    QTest::addColumn<QStringList>("clicks");         // "row:zone"
    QTest::addColumn<QStringList>("deleted");        // "label:count" per categoryDeleteRequested
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<QList<bool>>("asking");

    const QList<bool> none{false, false, false};
    QTest::newRow("count 0: the cross deletes at once") << QStringList{"2:cross"} << QStringList{"dog:0"}
                                                        << QStringList{} << none;
    QTest::newRow("count 3: the cross asks") << QStringList{"0:cross"} << QStringList{} << QStringList{}
                                             << QList<bool>{true, false, false};
    QTest::newRow("count 3: cross, then check deletes") << QStringList{"0:cross", "0:check"}
                                                        << QStringList{"person:3"} << QStringList{} << none;
    QTest::newRow("cross twice cancels") << QStringList{"0:cross", "0:cross"} << QStringList{} << QStringList{}
                                         << none;
    QTest::newRow("another row cancels and is chosen") << QStringList{"0:cross", "1:body"} << QStringList{}
                                                       << QStringList{"car"} << none;
    QTest::newRow("the asking row's name cancels and chooses it") << QStringList{"0:cross", "0:body"}
                                                                  << QStringList{} << QStringList{"person"} << none;
    QTest::newRow("asking moves to another row") << QStringList{"0:cross", "1:cross"} << QStringList{}
                                                 << QStringList{} << QList<bool>{false, true, false};
    QTest::newRow("check zone, left edge") << QStringList{"0:cross", "0:checkLeftEdge"}
                                           << QStringList{"person:3"} << QStringList{} << none;
    QTest::newRow("check zone, right edge") << QStringList{"0:cross", "0:checkRightEdge"}
                                            << QStringList{"person:3"} << QStringList{} << none;
    QTest::newRow("just left of the check zone") << QStringList{"0:cross", "0:beforeCheck"} << QStringList{}
                                                 << QStringList{"person"} << none;
    QTest::newRow("cross zone, left edge, cancels") << QStringList{"0:cross", "0:crossEdge"} << QStringList{}
                                                    << QStringList{} << none;
    QTest::newRow("cross zone starts at its left edge") << QStringList{"0:crossEdge"} << QStringList{}
                                                        << QStringList{} << QList<bool>{true, false, false};
    // There a row not asking has its eye (categoryEye): it chooses nothing.
    QTest::newRow("the check zone of a row not asking is its eye") << QStringList{"1:check"} << QStringList{}
                                                                   << QStringList{} << none;
    QTest::newRow("the eye of another row cancels asking") << QStringList{"0:cross", "1:check"} << QStringList{}
                                                           << QStringList{} << none;
    QTest::newRow("a right-click on the cross deletes nothing") << QStringList{"2:rightCross"} << QStringList{}
                                                               << QStringList{} << none;
}

void TestObjectListPanel::categoryDelete()
{
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, deleted);
    QFETCH(QStringList, chosen);
    QFETCH(QList<bool>, asking);

    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshCategories({"person", "car", "dog"}, {{"person", 3}, {"car", 2}, {"dog", 0}}, QString());
    QSignalSpy deleteSpy(&panel, &ObjectListPanel::categoryDeleteRequested);
    QSignalSpy chosenSpy(&panel, &ObjectListPanel::categoryChosen);
    QListWidget *list = categoryList(panel);
    for (const QString &click : clicks) {
        const int row = click.section(QLatin1Char(':'), 0, 0).toInt();
        QString zone = click.section(QLatin1Char(':'), 1);
        const bool right = zone.startsWith(QLatin1String("right"));
        if (right)
            zone = zone.mid(5).toLower();
        QTest::mouseClick(list->viewport(), right ? Qt::RightButton : Qt::LeftButton, {}, zonePoint(list, row, zone));
    }
    QStringList gotDeleted;
    for (const QList<QVariant> &args : std::as_const(deleteSpy))
        gotDeleted << QStringLiteral("%1:%2").arg(args.at(0).toString()).arg(args.at(1).toInt());
    QStringList gotChosen;
    for (const QList<QVariant> &args : std::as_const(chosenSpy))
        gotChosen << args.at(0).toString();
    QCOMPARE(gotDeleted, deleted);
    QCOMPARE(gotChosen, chosen);
    QCOMPARE(askingFlags(list), asking);
}

void TestObjectListPanel::doubleClickOnDeleteZonesDoesNothingElse()
{
    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshCategories({"person", "car"}, {{"person", 3}}, QString());
    QSignalSpy applied(&panel, &ObjectListPanel::categoryApplied);
    QSignalSpy deleteSpy(&panel, &ObjectListPanel::categoryDeleteRequested);
    QListWidget *list = categoryList(panel);
    // A quick double-click on the cross asks once and applies nothing.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, 0, "cross"));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, 0, "cross"));
    QCOMPARE(askingFlags(list), (QList<bool>{true, false}));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, 0, "check"));
    QCOMPARE(applied.count(), 0);
    QCOMPARE(deleteSpy.count(), 0);
    // The count-0 row under the cross of a double-click: deleted once, never applied.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, 1, "cross"));
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, 1, "cross"));
    QCOMPARE(deleteSpy.count(), 1);
    QCOMPARE(applied.count(), 0);
}

void TestObjectListPanel::categoryClicks()
{
    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshCategories({"person", "car"}, {}, "person");
    QSignalSpy chosen(&panel, &ObjectListPanel::categoryChosen);
    QSignalSpy applied(&panel, &ObjectListPanel::categoryApplied);
    QListWidget *list = categoryList(panel);
    const QPoint car = zonePoint(list, 1, "body");
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, car);
    QCOMPARE(chosen.count(), 1);
    QCOMPARE(chosen.last().at(0).toString(), QStringLiteral("car"));
    QCOMPARE(list->currentRow(), 1);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, car);
    QCOMPARE(applied.count(), 1);
    QCOMPARE(applied.last().at(0).toString(), QStringLiteral("car"));
}

void TestObjectListPanel::categoryEye_data()
{
    QTest::addColumn<QStringList>("clicks");     // "row:zone", "dbl row:zone", "hide LABEL" (the canvas hid it)
    QTest::addColumn<QStringList>("requested");  // "label:hidden" per categoryVisibilityRequested
    QTest::addColumn<QList<bool>>("eyesClosed");
    QTest::addColumn<QList<bool>>("greyed");     // object rows: person, car, person

    const QList<bool> open{false, false, false};
    QTest::newRow("the eye asks to hide") << QStringList{"1:check"} << QStringList{"car:true"} << open << open;
    QTest::newRow("a hidden category's rows are greyed, its eye asks to show")
        << QStringList{"hide person", "0:check"} << QStringList{"person:false"} << QList<bool>{true, false, false}
        << QList<bool>{true, false, true};
    QTest::newRow("a double-click on the eye is two toggles")
        << QStringList{"dbl 2:check"} << QStringList{"dog:true", "dog:true"} << open << open;
    QTest::newRow("every shape hidden greys every row, the eyes stay open")
        << QStringList{"hide all"} << QStringList{} << open << QList<bool>{true, true, true};
    QTest::newRow("the eye's zone from its left edge") << QStringList{"0:checkLeftEdge"} << QStringList{"person:true"}
                                                       << open << open;
    QTest::newRow("the eye's zone to its right edge") << QStringList{"0:checkRightEdge"}
                                                      << QStringList{"person:true"} << open << open;
    QTest::newRow("just left of the eye is the body") << QStringList{"0:beforeCheck"} << QStringList{} << open
                                                      << open;
    QTest::newRow("an asking row's check mark deletes, it hides nothing")
        << QStringList{"0:cross", "0:check"} << QStringList{} << open << open;
}

void TestObjectListPanel::categoryEye()
{
    QFETCH(QStringList, clicks);
    QFETCH(QStringList, requested);
    QFETCH(QList<bool>, eyesClosed);
    QFETCH(QList<bool>, greyed);

    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshObjects({box(1, "person", QRectF(0, 0, 10, 10)), box(2, "car", QRectF(0, 0, 10, 10)),
                          box(3, "person", QRectF(5, 5, 10, 10))},
                         0);
    panel.refreshCategories({"person", "car", "dog"}, {{"person", 2}, {"car", 1}}, QString());
    QSignalSpy spy(&panel, &ObjectListPanel::categoryVisibilityRequested);
    QSignalSpy chosen(&panel, &ObjectListPanel::categoryChosen);
    QSignalSpy activated(&panel, &ObjectListPanel::rowActivated);
    QListWidget *list = categoryList(panel);
    for (const QString &click : clicks) {
        if (click.startsWith(QLatin1String("hide "))) {
            const QString what = click.mid(5);
            panel.setVisibility(what == QLatin1String("all"), what == QLatin1String("all") ? QSet<QString>()
                                                                                         : QSet<QString>{what});
            continue;
        }
        const bool dbl = click.startsWith(QLatin1String("dbl "));
        const QString target = dbl ? click.mid(4) : click;
        const QPoint p = zonePoint(list, target.section(QLatin1Char(':'), 0, 0).toInt(), target.section(QLatin1Char(':'), 1));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, p);
        if (dbl) {
            QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, p);
            QTest::mouseRelease(list->viewport(), Qt::LeftButton, {}, p);
        }
    }
    QStringList got;
    for (const QList<QVariant> &args : std::as_const(spy))
        got << QStringLiteral("%1:%2").arg(args.at(0).toString(), args.at(1).toBool() ? "true" : "false");
    QCOMPARE(got, requested);
    if (!requested.isEmpty())
        QCOMPARE(chosen.count(), 0);   // the eye does not choose the category
    QList<bool> closed;
    for (int i = 0; i < list->count(); ++i)
        closed << list->item(i)->data(CategoryRole::Hidden).toBool();
    QCOMPARE(closed, eyesClosed);

    // Greyed rows: not selectable, and a click on one selects nothing.
    QListWidget *objects = objectList(panel);
    QList<bool> grey;
    for (int i = 0; i < objects->count(); ++i) {
        QListWidgetItem *item = objects->item(i);
        grey << item->data(ObjectRole::Hidden).toBool();
        QCOMPARE(bool(item->flags() & Qt::ItemIsSelectable), !grey.last());
        QCOMPARE(item->toolTip().isEmpty(), !grey.last());
        const QPoint p = objects->visualItemRect(item).center();
        const qsizetype before = activated.count();
        QTest::mouseClick(objects->viewport(), Qt::LeftButton, {}, p);
        QTest::mouseDClick(objects->viewport(), Qt::LeftButton, {}, p);
        QCOMPARE(activated.count(), before + (grey.last() ? 0 : 2));
        QCOMPARE(item->isSelected(), !grey.last());
        if (!grey.last())
            QCOMPARE(activated.last().at(0).toUInt(), item->data(ObjectRole::Id).toUInt());
    }
    QCOMPARE(grey, greyed);
    // A refresh keeps the grey (the rows are refilled in place).
    panel.refreshObjects({box(1, "person", QRectF(0, 0, 10, 10)), box(2, "car", QRectF(0, 0, 10, 10)),
                          box(3, "person", QRectF(5, 5, 10, 10))},
                         0);
    for (int i = 0; i < objects->count(); ++i)
        QCOMPARE(objects->item(i)->data(ObjectRole::Hidden).toBool(), greyed.at(i));
}

void TestObjectListPanel::confirmationSurvivesRefresh()
{
    ObjectListPanel panel;
    panel.resize(270, 360);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    QStringList labels;
    QHash<QString, int> counts;
    for (int i = 0; i < 30; ++i) {
        labels << QStringLiteral("class%1").arg(i);
        counts.insert(labels.last(), 2);
    }
    panel.refreshCategories(labels, counts, QString());
    QListWidget *list = categoryList(panel);
    QTRY_VERIFY(list->verticalScrollBar()->maximum() > 100);
    list->verticalScrollBar()->setValue(100);
    const int row = list->row(list->itemAt(QPoint(40, 10)));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, zonePoint(list, row, "cross"));
    QVERIFY(list->item(row)->data(CategoryRole::Confirming).toBool());

    // Another count changes: the list is rebuilt, the question and the scroll position stay.
    counts[labels.first()] = 5;
    panel.refreshCategories(labels, counts, QString());
    QVERIFY(list->item(row)->data(CategoryRole::Confirming).toBool());
    QCOMPARE(list->item(0)->data(CategoryRole::Count).toInt(), 5);
    QCOMPARE(list->verticalScrollBar()->value(), 100);

    // Gone from the list, gone from the question.
    const QString asked = labels.at(row);
    labels.removeAt(row);
    panel.refreshCategories(labels, counts, QString());
    labels.insert(row, asked);
    panel.refreshCategories(labels, counts, QString());
    QCOMPARE(askingFlags(list).count(true), 0);
}

void TestObjectListPanel::categoryAtRow()
{
    ObjectListPanel panel;
    QStringList labels;
    for (int i = 0; i < 12; ++i)
        labels << QStringLiteral("c%1").arg(i);
    panel.refreshCategories(labels, {}, QString());
    QCOMPARE(panel.categoryAtRow(0), QStringLiteral("c0"));
    QCOMPARE(panel.categoryAtRow(8), QStringLiteral("c8"));
    QCOMPARE(panel.categoryAtRow(11), QStringLiteral("c11"));
    QCOMPARE(panel.categoryAtRow(12), QString());
    QCOMPARE(panel.categoryAtRow(-1), QString());
    panel.refreshCategories({}, {}, QString());
    QCOMPARE(panel.categoryAtRow(0), QString());
}

void TestObjectListPanel::retranslates()
{
    ObjectListPanel panel;
    panel.refreshObjects({box(1, "", QRectF(0, 0, 3, 3)), ring(2, "tree", 6)}, 0);
    setLanguage(QStringLiteral("en"));
    panel.retranslate();
    QListWidget *list = objectList(panel);
    QCOMPARE(list->item(0)->text(), translateText("(未命名)"));
    QVERIFY(list->item(0)->text() != QStringLiteral("(未命名)"));
    QCOMPARE(list->item(1)->data(ObjectRole::Detail).toString(), translateText("%1点").arg(6));
    QCOMPARE(list->item(0)->data(ObjectRole::Detail).toString(), QStringLiteral("3×3"));
    QCOMPARE(::emptyLabel(panel)->text(), translateText("暂无标注对象"));
    QVERIFY(panel.findChild<QToolButton *>()->text() == translateText("＋ 新增"));
}

void TestObjectListPanel::textsFitInEveryLanguage_data()
{
    QTest::addColumn<QString>("code");
    for (const auto &language : languageList())
        QTest::newRow(qPrintable(language.first)) << language.first;
}

void TestObjectListPanel::textsFitInEveryLanguage()
{
    QFETCH(QString, code);
    setLanguage(code);
    ObjectListPanel panel;
    showPanel(panel);
    panel.refreshCategories({"person"}, {{"person", 128}}, QString());
    QListWidget *list = categoryList(panel);
    const QRectF band = CategoryDelegate::promptBand(list->visualItemRect(list->item(0)));
    const QString prompt = translateText("同时删除 %1 个标注？").arg(128);
    QVERIFY2(list->fontMetrics().horizontalAdvance(prompt) <= band.width(),
             qPrintable(QStringLiteral("%1 is %2 px, room %3").arg(prompt)
                            .arg(list->fontMetrics().horizontalAdvance(prompt)).arg(band.width())));
}

void TestObjectListPanel::renders_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("Chinese") << "zh_CN";
    QTest::newRow("English") << "en";
}

void TestObjectListPanel::renders()
{
    QFETCH(QString, language);
    setLanguage(language);
    ObjectListPanel panel;
    panel.resize(270, 640);
    panel.show();
    QVERIFY(QTest::qWaitForWindowExposed(&panel));
    panel.refreshObjects({box(1, "person", QRectF(10, 10, 120.9, 80.2), false, 0.91),
                          ring(2, "tree", 7),
                          box(3, "car", QRectF(0, 0, 312, 140), true, 0.87),
                          box(4, "", QRectF(0, 0, 44, 60)),
                          box(5, "traffic light with a very long category name", QRectF(0, 0, 18, 40)),
                          box(6, "dog", QRectF(0, 0, 64, 48), true, -1),
                          ring(7, "road", 12, 0.55)},
                         4, {{1, 1}, {2, 2}, {4, 3}, {5, 4}, {7, 5}});
    QStringList labels = {"person", "car", "tree", "dog", "bicycle", "traffic light", "road", "bus", "truck",
                          "motorcycle"};
    panel.refreshCategories(labels, {{"person", 1}, {"car", 1}, {"tree", 1}, {"road", 1}, {"traffic light", 1},
                                     {"dog", 3}, {"bicycle", 0}}, "tree");
    QListWidget *categories = categoryList(panel);
    QTest::mouseClick(categories->viewport(), Qt::LeftButton, {}, zonePoint(categories, 3, "cross"));
    QVERIFY(categories->item(3)->data(CategoryRole::Confirming).toBool());

    QListWidget *objects = objectList(panel);
    const auto grabWithMouseOn = [&](QListWidget *list, int row, const QString &zone) {
        QTest::mouseMove(list->viewport(), zonePoint(list, row, zone));
        QCoreApplication::processEvents();
        return panel.grab().toImage();
    };
    const QImage objectHover = grabWithMouseOn(objects, 1, "body");
    const QImage categoryHover = grabWithMouseOn(categories, 4, "body");
    saveRender(objectHover, QStringLiteral("objectlistpanel_%1_objecthover.png").arg(language));
    saveRender(categoryHover, QStringLiteral("objectlistpanel_%1_categoryhover.png").arg(language));

    const auto colourAt = [&](const QImage &shot, QListWidget *list, int row, int x) {
        const QRect r = list->visualItemRect(list->item(row)).translated(list->viewport()->mapTo(&panel, QPoint()));
        return shot.pixelColor(QPoint(r.left() + x, r.center().y()) * shot.devicePixelRatio());
    };
    QCOMPARE(colourAt(objectHover, objects, 3, 150), QColor(0x1C, 0x3A, 0x63));          // selected
    QCOMPARE(colourAt(objectHover, objects, 1, 150), QColor(0x2D, 0x32, 0x3D));          // hovered
    QCOMPARE(colourAt(categoryHover, categories, 3, 20), QColor(0x3A, 0x27, 0x25));     // asking
    QCOMPARE(colourAt(categoryHover, categories, 2, 120), QColor(0x1C, 0x3A, 0x63));    // current category
    QCOMPARE(colourAt(categoryHover, categories, 4, 120), QColor(0x2D, 0x32, 0x3D));    // hovered category
}

BRINDLE_TEST_MAIN(TestObjectListPanel)
#include "tst_objectlistpanel.moc"
