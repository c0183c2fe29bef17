#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

class QProcess;

// What one run of the built brindlemark-cli gave back.
struct CliResult
{
    int exitCode = -1;   // -1: it did not start, crashed or did not finish in time
    QByteArray out;
    QStringList lines;   // the non-empty lines of out
    QByteArray err;

    QJsonObject json() const;   // out as one JSON object, for a command that prints only a summary
};

struct CliOptions
{
    QString workingDirectory;   // empty: the test's own
    QByteArray input;           // standard input, closed after it; no run waits for a reader
    QString inputFile;          // standard input read from this file instead
    int timeoutMs = 60000;      // a run that takes longer has hung: it is killed
    // LANG of the run (LC_ALL and LC_MESSAGES unset); empty: unset. The tests compare the texts as
    // written in the sources unless they ask for another language.
    QByteArray locale = "zh_CN.UTF-8";
};

// options speaking English (LANG=C.UTF-8): the messages as scripts have long read them.
CliOptions inEnglish(CliOptions options = CliOptions());

// The built brindlemark-cli.
QString cliPath();

// Runs brindlemark-cli and waits with the event loop running, so that a server in this process answers.
CliResult runCli(const QStringList &args, const CliOptions &options = CliOptions());

// For a test that acts on the tool while it runs (signals, state): start it, later finish.
void startCli(QProcess &process, const QStringList &args, const CliOptions &options = CliOptions());
CliResult finishCli(QProcess &process, int timeoutMs = CliOptions().timeoutMs);
