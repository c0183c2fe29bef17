#pragma once

#include <QLoggingCategory>
#include <QString>

// Milestones for people who report slowness and for the benchmarks. Off by default; on with
// QT_LOGGING_RULES="brindlemark.timing.debug=true". Each line carries the milliseconds since the
// process started (not since main), so start-up costs before main are counted too.
Q_DECLARE_LOGGING_CATEGORY(lcTiming)

double msSinceProcessStart();
void logTiming(const QString &milestone);
// The same for a moment already past (ms as msSinceProcessStart gave it).
void logTimingAt(double ms, const QString &milestone);
inline bool timingEnabled() { return lcTiming().isDebugEnabled(); }
