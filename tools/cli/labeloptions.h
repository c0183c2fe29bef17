#pragma once

#include "tools/cli/serveroptions.h"

#include <QString>
#include <QStringList>

// brindlemark-cli label: what the command line asks for.
struct LabelOptions
{
    QString dir;
    ServerOptions servers;    // --server (required, once per replica), --model, --concurrency, --timeout
    // --shard K/N: this process labels the images whose path below DIR hashes to K of N.
    int shard = 1;
    int shardCount = 1;
    bool progressLines = false;   // --progress jsonl: one JSON line per finished image on stdout
    QString prompt;
    QStringList classes;
    double minScore = 0.4;
    bool unlabelledOnly = false;
    bool confirmed = false;   // write results to the label files instead of the pending file
    // With confirmed: a category the dataset's class list (data.yaml, obj.names) lacks is added
    // there; without it such results stay pending.
    bool addClasses = false;
    // --format: the format of new label files; without it they get the folder's (that of its
    // label files, else VOC). Images that have a label file keep its format either way.
    bool useYolo = false;
    bool formatGiven = false;

    static QString usage();
    // Fills the options from the words after "label"; returns what is wrong, or an empty string.
    QString parse(const QStringList &args);
};
