#pragma once

// Shapes, their descriptions and the panels' rows as the window edit tests build and compare them.

#include "storage/annotation.h"
#include "storage/rotatedbox.h"
#include "support/annotationbuilders.h"
#include "ui/mainwindow.h"
#include "ui/objectlistpanel.h"

#include <QApplication>
#include <QListWidget>
#include <QUndoStack>

namespace EditFixture {

// One shape as the tests compare it: "id label x,y wxh", then " turned degrees" / " pending" / " difficult".
inline QString describe(const Annotation &a, bool withId = true)
{
    const QRectF r = a.rect.normalized();
    QString text = QStringLiteral("%1 %2,%3 %4x%5").arg(a.label).arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    if (withId)
        text.prepend(QString::number(a.id) + QLatin1Char(' '));
    if (a.kind == Annotation::Rotated)
        text += QStringLiteral(" turned %1").arg(qRound(RotatedFrame::fromCorners(a.points).angle));
    if (a.pending)
        text += QStringLiteral(" pending");
    if (a.difficult)
        text += QStringLiteral(" difficult");
    return text;
}

inline QString describe(const QList<Annotation> &list, bool withIds = true)
{
    QStringList parts;
    for (const Annotation &a : list)
        parts.append(describe(a, withIds));
    return parts.join(QStringLiteral("; "));
}

// The shapes of the first image in most cases: ids 1-3 come from its VOC file, 4 from the
// pending file. All lie in the part of the image a 100% view shows.
const QList<Annotation> kConfirmed = {
    box(QStringLiteral("cat"), QRectF(400, 300, 80, 60)),
    box(QStringLiteral("dog"), QRectF(600, 300, 80, 60)),
    box(QStringLiteral("cat"), QRectF(400, 450, 80, 60)),
};
const QList<Annotation> kPending = {box(QStringLiteral("cat"), QRectF(600, 450, 80, 60), 1, 0.9)};
const QString kStart = QStringLiteral("1 cat 400,300 80x60; 2 dog 600,300 80x60; 3 cat 400,450 80x60; "
                                      "4 cat 600,450 80x60 pending");

inline QListWidget *categoryList(MainWindow &window)
{
    return window.objectPanel()->findChild<QListWidget *>(QStringLiteral("categoryList"));
}

inline QListWidget *objectList(MainWindow &window)
{
    return window.objectPanel()->findChild<QListWidget *>(QStringLiteral("objectList"));
}

inline QStringList rowTexts(QListWidget *list)
{
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts.append(list->item(i)->text());
    return texts;
}

// A point of a category row: its body, the check mark or the cross (the delegate's hit zones).
inline QPoint categoryPoint(QListWidget *list, const QString &name, const QString &zone)
{
    const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
    if (found.isEmpty())
        return QPoint(-1, -1);
    const QRect r = list->visualItemRect(found.first());
    if (zone == QLatin1String("check"))
        return QPoint(r.right() - 37, r.center().y());
    if (zone == QLatin1String("cross"))
        return QPoint(r.right() - 13, r.center().y());
    return QPoint(r.left() + 60, r.center().y());
}

inline bool categoryAsking(QListWidget *list, const QString &name)
{
    const QList<QListWidgetItem *> found = list->findItems(name, Qt::MatchExactly);
    return !found.isEmpty() && found.first()->data(Qt::UserRole + 21).toBool();
}

inline QStringList undoTexts(const QUndoStack *stack)
{
    QStringList texts;
    for (int i = 0; i < stack->count(); ++i)
        texts.append(stack->text(i));
    return texts;
}

inline bool noPopupOrDialog()
{
    return !QApplication::activeModalWidget() && !QApplication::activePopupWidget();
}


} // namespace EditFixture
