#pragma once

#include "session/liveannotations.h"

#include <algorithm>

// What the editor of the image on screen holds, without a scene or a window.
struct LiveStub : LiveAnnotations
{
    QList<Annotation> list;
    QList<Annotation> annotations() const override { return list; }
    int confirmedCount() const override { return int(list.size()) - pendingCount(); }
    int pendingCount() const override
    {
        return int(std::count_if(list.cbegin(), list.cend(), [](const Annotation &a) { return a.pending != 0; }));
    }
};
