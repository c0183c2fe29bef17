#pragma once

#include <QStringList>

// Each subcommand gets the arguments after its name and returns the exit code:
// 0 all items done, 1 some item failed, 2 usage error.
int runListCommand(const QStringList &args);
int runShowCommand(const QStringList &args);
int runPendingCommand(const QStringList &args);
int runConvertCommand(const QStringList &args);
int runCheckCommand(const QStringList &args);
int runLabelCommand(const QStringList &args);
int runExportCommand(const QStringList &args);
int runImportCommand(const QStringList &args);
