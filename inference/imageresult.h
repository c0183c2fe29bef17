#pragma once

#include "storage/annotation.h"

#include <QList>
#include <QMetaType>
#include <QString>

// What became of one image of a task.
struct ImageResult
{
    enum class Outcome {
        Answered,    // the model looked at it; annotations may be empty
        Failed,      // it could not be sent, or no usable answer came; error says why
        Cancelled,   // the task was cancelled before an answer came
    };

    QString path;
    QList<Annotation> annotations;
    Outcome outcome = Outcome::Answered;
    QString error;   // in the interface language
    int unusable = 0;   // detections of the answer left out for a blank category
    QString server;     // the base URL that answered or failed last; empty when none was asked
    qint64 ms = 0;      // from the image's start to its report

    bool answered() const { return outcome == Outcome::Answered; }
    bool failed() const { return outcome == Outcome::Failed; }
    bool cancelled() const { return outcome == Outcome::Cancelled; }
};

// How a task ended.
struct TaskSummary
{
    int done = 0;     // images reported, cancelled ones included
    int total = 0;
    int added = 0;    // detections returned, before any overlap filter
    double avgConfidence = 0.0;
    int failed = 0;
    bool cancelled = false;
    int unusable = 0;   // detections left out for a blank category
};

Q_DECLARE_METATYPE(ImageResult)
Q_DECLARE_METATYPE(TaskSummary)
