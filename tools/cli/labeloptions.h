#pragma once

#include "inference/serverconfig.h"

#include <QString>
#include <QStringList>

// brindlemark-cli label: what the command line asks for.
struct LabelOptions
{
    QString dir;
    ServerConfig server;      // the model stays empty unless --model is given
    QString prompt;
    QStringList classes;
    double minScore = 0.4;
    bool unlabelledOnly = false;
    bool confirmed = false;   // write results to the label files instead of the pending file
    bool useYolo = false;

    static QString usage();
    // Fills the options from the words after "label"; returns what is wrong, or an empty string.
    QString parse(const QStringList &args);
};
