#pragma once

#include <QString>
#include <QStringList>

// The dataset's own class list for an image: the names file its labels folder uses
// (classes.txt, obj.names, data.yaml), in class-index order, without the indices a YAML map
// leaves out. Empty when the dataset has none.
QStringList datasetClassList(const QString &imagePath);

// The order of the category rows, which the keys 1-9 follow: the dataset's class list first,
// then the other known categories in the order given (first use). Each name once.
QStringList categoryOrder(const QStringList &classList, const QStringList &known);
