#pragma once

#include "storage/annotation.h"

#include <QList>

// The records of the image on screen. While an image is shown its editor holds them, not the
// folder's cache: the session asks here whenever it needs the current list or its counts.
class LiveAnnotations
{
public:
    virtual ~LiveAnnotations() = default;
    virtual QList<Annotation> annotations() const = 0;
    virtual int confirmedCount() const = 0;
    virtual int pendingCount() const = 0;
};
