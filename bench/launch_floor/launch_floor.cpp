// The least a program can do to show a photo: a bare Qt Widgets window (no style sheet, no
// menus, no panels) that decodes one image at screen size, shows it and reports, in the
// "brindlemark.timing" log as Brindlemark does, "image painted PATH" once the first paint is done
// and "idle image painted PATH" once the GUI thread has nothing left to do. bench_window --launch
// starts it and Brindlemark turn about on the same photo.
// Run: launch_floor IMAGE (with QT_LOGGING_RULES="brindlemark.timing.debug=true")
#include "session/timinglog.h"

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QPainter>
#include <QScreen>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

// Idle as the window's timing probe sees it: a zero timer that fires with no other event handled
// since it was started.
class IdleProbe : public QObject
{
public:
    explicit IdleProbe(QObject *parent) : QObject(parent)
    {
        m_timer.setSingleShot(true);
        m_timer.setInterval(0);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_events - m_eventsAtArm > 1) {
                arm();
                return;
            }
            logTiming(QStringLiteral("idle ") + m_what);
        });
        qApp->installEventFilter(this);
    }

    void logWhenIdle(const QString &what)
    {
        m_what = what;
        arm();
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        ++m_events;
        return QObject::eventFilter(watched, event);
    }

private:
    void arm()
    {
        m_eventsAtArm = m_events;
        m_timer.start();
    }

    QTimer m_timer;
    QString m_what;
    quint64 m_events = 0;
    quint64 m_eventsAtArm = 0;
};

class PhotoWidget : public QWidget
{
public:
    PhotoWidget(const QImage &image, const QString &path, IdleProbe *probe)
        : m_image(image), m_path(path), m_probe(probe)
    {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), Qt::black);
        const QSize shown = m_image.size().scaled(size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - shown.width()) / 2, (height() - shown.height()) / 2), shown);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_image);
        if (m_reported)
            return;
        m_reported = true;
        // Logged once the paint is done and the events queued meanwhile have run, as the window does.
        QTimer::singleShot(0, this, [this] {
            const QString milestone = QStringLiteral("image painted ") + m_path;
            logTiming(milestone);
            m_probe->logWhenIdle(milestone);
        });
    }

private:
    QImage m_image;
    QString m_path;
    IdleProbe *m_probe;
    bool m_reported = false;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: launch_floor IMAGE\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    QImageReader reader(path);
    reader.setAutoTransform(true);
    // Screen size: the JPEG decoder shrinks while decoding, as Brindlemark's does.
    const QSize screen = app.primaryScreen() ? app.primaryScreen()->availableSize() : QSize(1280, 800);
    // The reader's sizes are in stored orientation; the screen's is upright.
    const bool turned = reader.transformation() & QImageIOHandler::TransformationRotate90;
    QSize upright = reader.size();
    if (turned)
        upright.transpose();
    if (upright.isValid() && (upright.width() > screen.width() || upright.height() > screen.height())) {
        QSize scaled = upright.scaled(screen, Qt::KeepAspectRatio);
        if (turned)
            scaled.transpose();
        reader.setScaledSize(scaled);
    }
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    IdleProbe probe(&app);
    PhotoWidget window(image, path, &probe);
    window.setWindowTitle(QStringLiteral("launch floor"));
    window.resize(1280, 800);
    window.show();
    return app.exec();
}
