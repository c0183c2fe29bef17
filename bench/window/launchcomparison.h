#pragma once

#include <QString>
#include <QStringList>

// bench_window --launch: Brindlemark's launch beside the floor's (launch_floor, a bare Qt window
// showing the same first photo), run in turns on one folder, timed alike from just before the
// process is started to its first image painted and the GUI thread idle.
struct LaunchComparison
{
    QString binDir;      // Brindlemark and Brindlehost (--programs)
    QString floorProgram;
    QString dataset;
    QString firstImage;  // the image Brindlemark shows first, which the floor shows
    QString label;       // the folder's description for the printed lines
    int runs = 5;
};

// Prints every run and the medians with their ratio. False when a run did not reach idle.
bool runLaunchComparison(const LaunchComparison &comparison);

// The image a fresh Brindlemark shows first in dir: the first in its listing order.
QString firstListedImage(const QStringList &images);
