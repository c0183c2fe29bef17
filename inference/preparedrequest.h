#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QSize>

// One built chat request: the body exactly as it is posted, and the sizes its answer is mapped with.
struct PreparedRequest
{
    quint64 ticket = 0;
    bool ok = false;       // false: the image could not be decoded or encoded
    bool tooLarge = false; // not ok because decoding it would exceed the memory budget
    QSize sourceSize;      // the oriented image as stored
    QSize sentSize;        // the image encoded into the body
    QByteArray body;
};

Q_DECLARE_METATYPE(PreparedRequest)
