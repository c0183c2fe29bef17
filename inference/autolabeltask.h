#pragma once

#include "inference/serverconfig.h"

#include <QString>
#include <QStringList>

// One run handed to VllmClient: the images, in order, and how to treat the answers.
struct AutoLabelTask
{
    QStringList paths;
    ServerConfig server;
    // Further base URLs serving the same model, each taking server.concurrency requests.
    QStringList replicas;
    QString prompt;            // replaces the default user text when not blank
    QStringList classes;
    double minScore = 0.4;
    bool markPending = true;
    bool reviewMode = false;   // label checker: no category enumeration, minScore at most 0.25
};
