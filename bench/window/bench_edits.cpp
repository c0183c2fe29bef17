// Starts the real Brindlemark under an X server on one image that carries 1,000 boxes and times,
// with real input (xdotool), the edits a labeller makes most: selecting a box by a click,
// relabelling it with a number key and undoing that. Each figure runs from the press reaching the
// window to the end of the last repaint it caused, panels included: the "input" and "input
// settled" lines of the "brindlemark.timing" log, which the program writes when asked to.
// Run: build/bin/bench_edits [--reps N] [--pause MS]
// Needs Xvfb and xdotool; starts its own Xvfb when DISPLAY is not set.
#include "benchsupport.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>

namespace {

constexpr int kColumns = 40;
constexpr int kRows = 25;
constexpr int kCell = 50;   // image pixels; the boxes fill the image without gaps

// The image and a VOC file in our layout with 1,000 boxes: all "cat" but the last, "dog", so that
// the category panel lists dog first (the last label read is the most recent) and the key 1
// relabels any clicked box.
bool makeDataset(const QString &dir, QString *imagePath)
{
    const int w = kColumns * kCell, h = kRows * kCell;
    QImage image(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x)
            line[x] = qRgb(x * 255 / w, y * 255 / h, 96);
    }
    QDir().mkpath(dir + QStringLiteral("/annotations"));
    *imagePath = dir + QStringLiteral("/boxes.jpg");
    if (!image.save(*imagePath, "JPEG", 88))
        return false;
    QByteArray xml = "<annotation><filename>boxes.jpg</filename><size><width>" + QByteArray::number(w)
        + "</width><height>" + QByteArray::number(h) + "</height><depth>3</depth></size>";
    for (int row = 0; row < kRows; ++row) {
        for (int column = 0; column < kColumns; ++column) {
            const bool last = row == kRows - 1 && column == kColumns - 1;
            xml += "<object><name>" + QByteArray(last ? "dog" : "cat") + "</name><difficult>0</difficult><bndbox><xmin>"
                + QByteArray::number(column * kCell) + "</xmin><ymin>" + QByteArray::number(row * kCell)
                + "</ymin><xmax>" + QByteArray::number((column + 1) * kCell) + "</xmax><ymax>"
                + QByteArray::number((row + 1) * kCell) + "</ymax></bndbox></object>";
        }
    }
    xml += "</annotation>";
    QFile file(dir + QStringLiteral("/annotations/boxes.xml"));
    return file.open(QIODevice::WriteOnly) && file.write(xml) == xml.size();
}

struct Settled
{
    double ms = -1;     // press to the end of the last repaint
    double cpuMs = -1;  // the GUI thread's CPU time meanwhile
    uint selected = 0;
    int undoIndex = -1;
};

// Waits for the press to reach the window and for its repaints to end.
std::optional<Settled> measure(TimingReader &log, const QString &inputPrefix)
{
    const auto input = log.waitFor(inputPrefix, 5000);
    const auto settled = input ? log.waitFor(QStringLiteral("input settled "), 5000) : std::nullopt;
    if (!settled)
        return std::nullopt;
    static const QRegularExpression state(QStringLiteral("sel=(\\d+) undo=(\\d+) cpu=([-0-9.]+)"));
    const auto match = state.match(settled->text);
    if (!match.hasMatch())
        return std::nullopt;
    return Settled{settled->ms - input->ms, match.captured(3).toDouble(), match.captured(1).toUInt(),
                   match.captured(2).toInt()};
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(QLatin1Char(' '), 0, 2)
                                          : QStringLiteral("-");
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOptions({
        {QStringLiteral("reps"), QStringLiteral("repetitions of click, key and undo"), QStringLiteral("n"),
         QStringLiteral("30")},
        {QStringLiteral("pause"), QStringLiteral("ms between actions, as a person works"), QStringLiteral("ms"),
         QStringLiteral("150")},
    });
    parser.process(app);
    const int reps = std::max(1, parser.value(QStringLiteral("reps")).toInt());
    const int pause = parser.value(QStringLiteral("pause")).toInt();
    const QString binDir = QCoreApplication::applicationDirPath();

    QProcess xvfb;
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        xvfb.start(QStringLiteral("Xvfb"), {QStringLiteral(":96"), QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x800x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        if (!xvfb.waitForStarted()) {
            say(QStringLiteral("Xvfb is needed"));
            return 1;
        }
        qputenv("DISPLAY", ":96");
        QThread::msleep(800);
    }
    auto stopXvfb = [&] {
        if (xvfb.state() != QProcess::NotRunning) {
            xvfb.terminate();
            xvfb.waitForFinished();
        }
    };

    QTemporaryDir home;
    QString image;
    if (!makeDataset(home.path() + QStringLiteral("/ds"), &image)) {
        say(QStringLiteral("cannot write the dataset"));
        stopXvfb();
        return 1;
    }
    const QProcessEnvironment env = programEnvironment(home.path());

    // The tray companion runs already, as on a labeller's machine; Brindlemark would start it.
    QProcess host;
    host.setProcessEnvironment(env);
    host.start(binDir + QStringLiteral("/Brindlehost"), {});
    host.waitForStarted();
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(binDir + QStringLiteral("/Brindlemark"), {image});
    TimingReader log(&program);
    auto finish = [&](int code) {
        program.terminate();
        program.waitForFinished(5000);
        host.terminate();
        host.waitForFinished(5000);
        stopXvfb();
        return code;
    };

    if (!log.waitFor(QStringLiteral("image painted ") + image, 30000)) {
        say(QStringLiteral("the image was not shown: ") + QString::fromUtf8(program.readAllStandardError()));
        return finish(1);
    }
    QString window;
    if (!xdotool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--onlyvisible"),
                  QStringLiteral("--name"), QStringLiteral("^Brindlemark")},
                 &window)) {
        say(QStringLiteral("window not found"));
        return finish(1);
    }
    window = window.split(QLatin1Char('\n')).last();
    xdotool({QStringLiteral("windowfocus"), QStringLiteral("--sync"), window});
    QThread::msleep(500);
    const auto canvas = log.latest(QStringLiteral("canvas "));
    if (!canvas) {
        say(QStringLiteral("the canvas did not say where it is"));
        return finish(1);
    }
    const QStringList place = canvas->text.split(QLatin1Char(' '));
    const int cx = place.value(1).toInt() + place.value(3).toInt() / 2;
    const int cy = place.value(2).toInt() + place.value(4).toInt() / 2;
    log.skipAll();

    // Two points on different boxes of the fitted image, clicked in turn so that every click
    // changes the selection.
    const int points[2][2] = {{cx - 90, cy - 40}, {cx + 90, cy + 40}};
    QList<double> clicks, keys, undos, clicksCpu, keysCpu, undosCpu;
    uint previous = 0;
    for (int r = 0; r <= reps; ++r) {
        const int *p = points[r % 2];
        xdotool({QStringLiteral("mousemove"), QString::number(p[0]), QString::number(p[1])});
        QThread::msleep(ulong(pause));
        log.skipAll();   // hover repaints are not part of the click

        xdotool({QStringLiteral("click"), QStringLiteral("1")});
        const auto click = measure(log, QStringLiteral("input press"));
        if (!click || click->selected == 0 || click->selected == previous) {
            say(QStringLiteral("repetition %1: the click did not select another box").arg(r));
            return finish(1);
        }
        previous = click->selected;
        QThread::msleep(ulong(pause));

        xdotool({QStringLiteral("key"), QStringLiteral("1")});
        const auto key = measure(log, QStringLiteral("input key 1"));
        if (!key || key->undoIndex != 1) {
            say(QStringLiteral("repetition %1: the number key did not relabel the box").arg(r));
            return finish(1);
        }
        QThread::msleep(ulong(pause));

        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+z")});
        const auto undo = measure(log, QStringLiteral("input key Ctrl+Z"));
        if (!undo || undo->undoIndex != 0) {
            say(QStringLiteral("repetition %1: undo did not take the relabel back").arg(r));
            return finish(1);
        }
        QThread::msleep(ulong(pause));

        if (r == 0)
            continue;   // the first round warms caches up; it is not counted
        clicks.append(click->ms);
        keys.append(key->ms);
        undos.append(undo->ms);
        clicksCpu.append(click->cpuMs);
        keysCpu.append(key->cpuMs);
        undosCpu.append(undo->cpuMs);
    }

    say(QStringLiteral("== 1000 boxes on one %1x%2 image, %3 repetitions after one warm-up ==")
            .arg(kColumns * kCell).arg(kRows * kCell).arg(reps));
    say(QStringLiteral("measured in the program: press reaching the window -> end of the last repaint (panels included)"));
    say(QStringLiteral("select a box by a click (ms):     ") + spread(clicks));
    say(QStringLiteral("relabel it by a number key (ms):  ") + spread(keys));
    say(QStringLiteral("undo the relabel, Ctrl+Z (ms):    ") + spread(undos));
    say(QStringLiteral("the GUI thread's CPU time in the same spans (waiting for the CPU left out):"));
    say(QStringLiteral("  click (ms):                     ") + spread(clicksCpu));
    say(QStringLiteral("  number key (ms):                ") + spread(keysCpu));
    say(QStringLiteral("  undo (ms):                      ") + spread(undosCpu));
    say(QStringLiteral("load average at the end: ") + loadAverage());
    return finish(0);
}
