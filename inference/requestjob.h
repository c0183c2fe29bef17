#pragma once

#include <QString>
#include <QStringList>

// Everything one chat request is built from. A copy travels to the worker that builds it.
struct RequestJob
{
    quint64 ticket = 0;          // the owner's handle for the answer
    QString path;
    QString model;
    QString prompt;
    QStringList classes;         // named in the user text
    QStringList enumClasses;     // the schema's label enumeration; empty leaves the label free
    bool secondLook = false;
};
