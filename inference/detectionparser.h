#pragma once

#include "storage/annotation.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>

// Turns the text of one chat-completion answer into annotations in source-image pixels.
// Pure functions: no state, no errors; anything unusable just yields fewer records.

// The text of a message "content": a string, or the "text" parts of an array joined by "\n".
QString messageText(const QJsonValue &content);

// Drops a Markdown code fence (with its language tag) around the text.
QString stripCodeFences(const QString &text);

// From the first "[" to the last "]", both included; empty when there is no such span.
QString bracketSpan(const QString &text);

// Adds missing colons after the known keys and drops trailing commas.
QString repairJson(const QString &text);

// At most 10001 records per answer. sentSize is the size of the image that was encoded.
// unusable (when given) receives the number of detections left out for a blank category.
QList<Annotation> parseDetections(const QString &text, QSize sourceSize, QSize sentSize, double minScore,
                                  const QStringList &classes, bool restrictToClasses, bool markPending,
                                  int *unusable = nullptr);

// Appends at most one record for one detection object; counts a detection without a category in
// unusable (when given).
void parseDetection(const QJsonObject &object, QSize sourceSize, QSize sentSize, double minScore,
                    const QStringList &classes, bool restrictToClasses, bool markPending,
                    QList<Annotation> &out, int *unusable = nullptr);
