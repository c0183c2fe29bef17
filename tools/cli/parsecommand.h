#pragma once

#include <QStringList>

// brindlemark-cli parse --source WxH [--sent WxH] [--min-score S] [--classes a,b,...] [--restrict] [--pending]
// (--sent defaults to the source size, --min-score to 0.4 as in an auto-label run).
// Reads one model answer from standard input and prints the parsed annotations as JSON Lines.
// args are the words after "parse". Returns the exit code: 0, or 2 after a usage error.
int runParseCommand(const QStringList &args);
