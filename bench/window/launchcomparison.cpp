#include "launchcomparison.h"

#include "benchsupport.h"
#include "storage/directoryloader.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>

#include <optional>

namespace {

struct Launch
{
    double wallMs = -1;     // from just before the start to the idle line read here
    double loggedMs = -1;   // the idle line's own figure (since the process began)
    double paintedMs = -1;  // first image painted, since the process began
    double peakMiB = -1;
};

std::optional<Launch> launchOnce(const QString &binDir, const QString &program, const QString &argument)
{
    QTemporaryDir home;
    const QProcessEnvironment env = programEnvironment(home.path());
    // A labeller's tray companion is already running, for either program: it is no part of a launch.
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(binDir + QStringLiteral("/Brindlehost"), {});
    host.waitForStarted();
    QThread::msleep(500);

    QProcess app;
    app.setProcessEnvironment(env);
    // The log comes on standard error: waiting for it wakes at its lines, not at a 50 ms poll.
    app.setReadChannel(QProcess::StandardError);
    QElapsedTimer wall;
    wall.start();
    app.start(program, {argument});
    TimingReader log(&app);
    std::optional<Launch> result;
    const auto painted = log.waitFor(QStringLiteral("image painted "), 30000);
    const auto idle = painted ? log.waitFor(QStringLiteral("idle ") + painted->text, 30000) : std::nullopt;
    if (idle) {
        Launch launch;
        launch.wallMs = double(wall.nsecsElapsed()) / 1e6;
        launch.loggedMs = idle->ms;
        launch.paintedMs = painted->ms;
        launch.peakMiB = double(peakResidentKiB(app.processId())) / 1024.0;
        result = launch;
    } else {
        say(QStringLiteral("%1 did not reach idle: %2").arg(QFileInfo(program).fileName(), QString::fromUtf8(app.readAllStandardError()).right(2000)));
    }
    app.terminate();
    app.waitForFinished(5000);
    host.terminate();
    host.waitForFinished(5000);
    return result;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return -1;
    std::sort(values.begin(), values.end());
    const qsizetype n = values.size();
    return n % 2 ? values.at(n / 2) : (values.at(n / 2 - 1) + values.at(n / 2)) / 2;
}

} // namespace

QString firstListedImage(const QStringList &images)
{
    // The first image the window opens: the listing's own order.
    QStringList sorted = images;
    DirectoryLoader::sortPaths(sorted);
    return sorted.value(0);
}

bool runLaunchComparison(const LaunchComparison &c)
{
    say(QStringLiteral("-- launch beside the floor, %1; first image %2 --").arg(c.label, QFileInfo(c.firstImage).fileName()));
    QList<double> floorWall, floorLogged, floorPeak, appWall, appLogged, appPainted, appPeak;
    bool complete = true;
    // Turn about, so that a busy moment of the machine falls on both alike.
    for (int r = 1; r <= c.runs; ++r) {
        const auto floor = launchOnce(c.binDir, c.floorProgram, c.firstImage);
        const auto app = launchOnce(c.binDir, c.binDir + QStringLiteral("/Brindlemark"), c.dataset);
        if (!floor || !app) {
            complete = false;
            continue;
        }
        floorWall.append(floor->wallMs);
        floorLogged.append(floor->loggedMs);
        floorPeak.append(floor->peakMiB);
        appWall.append(app->wallMs);
        appLogged.append(app->loggedMs);
        appPainted.append(app->paintedMs);
        appPeak.append(app->peakMiB);
        say(QStringLiteral("run %1: floor %2 ms, Brindlemark %3 ms (painted %4, idle by its log %5), ratio %6")
                .arg(r)
                .arg(floor->wallMs, 0, 'f', 1)
                .arg(app->wallMs, 0, 'f', 1)
                .arg(app->paintedMs, 0, 'f', 1)
                .arg(app->loggedMs, 0, 'f', 1)
                .arg(app->wallMs / floor->wallMs, 0, 'f', 2));
    }
    say(QStringLiteral("== launch to first image painted and idle, from just before the start (ms), %1 runs ==")
            .arg(floorWall.size()));
    say(QStringLiteral("floor (bare Qt window, same photo):  ") + spread(floorWall));
    say(QStringLiteral("Brindlemark:                         ") + spread(appWall));
    say(QStringLiteral("  by the programs' own logs: floor %1, Brindlemark %2 (painted %3)")
            .arg(median(floorLogged), 0, 'f', 1)
            .arg(median(appLogged), 0, 'f', 1)
            .arg(median(appPainted), 0, 'f', 1));
    say(QStringLiteral("  peak resident memory at idle (MiB): floor %1, Brindlemark %2")
            .arg(median(floorPeak), 0, 'f', 1)
            .arg(median(appPeak), 0, 'f', 1));
    if (!floorWall.isEmpty())
        say(QStringLiteral("ratio of medians, Brindlemark / floor:  %1x").arg(median(appWall) / median(floorWall), 0, 'f', 2));
    return complete;
}
