#include "ui/imagestepper.h"

#include "canvas/canvasview.h"
#include "session/foldersession.h"
#include "session/timinglog.h"
#include "ui/filelistpanel.h"
#include "ui/imageprefetcher.h"
#include "ui/inputtimingprobe.h"

#include <QEvent>
#include <QTimer>

ImageStepper::ImageStepper(CanvasView *view, FolderSession *session, FileListPanel *fileList, QObject *parent)
    : QObject(parent)
    , m_view(view)
    , m_session(session)
    , m_fileList(fileList)
    , m_prefetcher(new ImagePrefetcher(this))
    , m_refineTimer(new QTimer(this))
{
    m_refineTimer->setSingleShot(true);
    m_refineTimer->setInterval(150);
    connect(m_refineTimer, &QTimer::timeout, this, &ImageStepper::refineCoarseImage);
    connect(m_prefetcher, &ImagePrefetcher::fullResolutionReady, this, &ImageStepper::onFullResolution);
    m_view->viewport()->installEventFilter(this);
}

ImageStepper::~ImageStepper() = default;

void ImageStepper::startTimingProbe(QWidget *window, std::function<QString()> state)
{
    if (timingEnabled() && !m_timingProbe)
        m_timingProbe = new InputTimingProbe(window, m_view->viewport(), std::move(state), this);
}

QString ImageStepper::shownPath() const
{
    return m_session->currentImage();
}

DecodedImage ImageStepper::decode(const QString &path) const
{
    const QSize area = fitArea();
    const DecodedImage held = m_prefetcher->cached(path, area);
    if (!held.isNull())
        return held;
    logTiming(QStringLiteral("image decoded here ") + path);
    return decodeImage(path, area, DecodeUse::Shown, m_quickDecode);
}

void ImageStepper::hold(const DecodedImage &decoded)
{
    m_prefetcher->insert(decoded);
}

void ImageStepper::install(const DecodedImage &decoded)
{
    m_current = decoded;
    // Prefetched images come adjusted from their thread; one decoded here, or before the
    // setting changed, is adjusted now: never shown as decoded while a setting is on.
    if (m_current.adjustment != m_adjustment)
        m_current.setAdjustment(m_adjustment);
    m_fullResolutionRequested.clear();
    m_view->setImage(m_current.shown(), m_current.fullSize);
}

void ImageStepper::settle(const QString &path, bool afterPaint)
{
    watchForPaint(QStringLiteral("image painted ") + path);
    m_prefetcher->insert(m_current);
    // Made good once the user stops on it.
    if (m_current.coarse)
        m_refineTimer->start();
    else
        m_refineTimer->stop();
    m_prefetchOnPaint = afterPaint;
    if (afterPaint) {
        m_view->viewport()->update();
        return;
    }
    // After this image is painted: the decoding of its neighbours must not delay it.
    QTimer::singleShot(0, this, &ImageStepper::prefetchNeighbours);
}

void ImageStepper::neighboursListed()
{
    if (!m_prefetchOnPaint && !m_current.isNull())
        prefetchNeighbours();
}

void ImageStepper::forget()
{
    m_current = DecodedImage();
    m_fullResolutionRequested.clear();
    m_view->clear();
}

void ImageStepper::dropHeldImages()
{
    m_prefetcher->clear();
}

void ImageStepper::dropHeldImage(const QString &path)
{
    m_prefetcher->forget(path);
}

void ImageStepper::noteDirection(int step)
{
    m_travel = step > 0 ? 1 : -1;
}

void ImageStepper::beginStep()
{
    // Steps closer together than this come from a held key: the prefetcher may not keep up, and
    // an image that must be decoded here comes coarse rather than late.
    m_quickDecode = m_lastStep.isValid() && m_lastStep.elapsed() < 300;
    m_lastStep.start();
}

void ImageStepper::endStep()
{
    m_quickDecode = false;
}

QSize ImageStepper::fitArea() const
{
    // The view keeps 40 pixels around a fitted image. Its whole size, not the viewport's, so that
    // scroll bars coming and going do not make the decoded neighbours look too small.
    const double dpr = m_view->devicePixelRatioF();
    QSize area = m_view->size() - QSize(80, 80);
    if (!m_view->isVisible() || area.width() < 100 || area.height() < 100)
        area = QSize(1600, 1000);
    return QSize(int(area.width() * dpr), int(area.height() * dpr));
}

void ImageStepper::prefetchNeighbours()
{
    const QString current = shownPath();
    const QStringList paths = m_session->imagePaths();
    const qsizetype n = paths.size();
    const qsizetype c = m_session->indexOf(current);
    if (n < 2 || c < 0)
        return;
    // The images the next steps would show: three ahead in the direction of travel, one back.
    QStringList wanted;
    auto nextShown = [&](qsizetype from, int step) -> qsizetype {
        for (qsizetype i = 1; i < n; ++i) {
            const qsizetype index = ((from + i * step) % n + n) % n;
            if (m_fileList->wouldShow(paths.at(index)))
                return index;
        }
        return -1;
    };
    qsizetype ahead = c;
    for (int k = 0; k < 3; ++k) {
        ahead = nextShown(ahead, m_travel);
        if (ahead < 0 || ahead == c || wanted.contains(paths.at(ahead)))
            break;
        wanted.append(paths.at(ahead));
        if (k == 0) {
            const qsizetype back = nextShown(c, -m_travel);
            if (back >= 0 && back != c && !wanted.contains(paths.at(back)))
                wanted.append(paths.at(back));
        }
    }
    // The image shown stays held so that stepping back to it is instant.
    m_prefetcher->prefetch(QStringList{current} + wanted, fitArea());
}

void ImageStepper::watchForPaint(const QString &milestone)
{
    if (!timingEnabled())
        return;
    m_paintWatch = milestone;
    m_view->viewport()->update();
}

bool ImageStepper::eventFilter(QObject *watched, QEvent *event)
{
    // Installed on the viewport alone; no call on the view here, which may be half destroyed.
    if (event->type() == QEvent::Paint && m_prefetchOnPaint) {
        m_prefetchOnPaint = false;
        // Queued: started once the paint is done.
        QTimer::singleShot(0, this, &ImageStepper::prefetchNeighbours);
    }
    if (event->type() == QEvent::Paint && !m_paintWatch.isEmpty()) {
        // Logged once the paint is done and the events queued meanwhile have run.
        const QString milestone = m_paintWatch;
        m_paintWatch.clear();
        QTimer::singleShot(0, this, [this, milestone] {
            logTiming(milestone);
            if (m_timingProbe)
                m_timingProbe->logWhenIdle(milestone);
        });
    }
    return QObject::eventFilter(watched, event);
}

void ImageStepper::onZoomChanged()
{
    const QString current = shownPath();
    if (current.isEmpty() || m_fullResolutionRequested == current)
        return;
    // A coarse image is made good first; the zoom is looked at again then.
    if (m_current.coarse)
        return;
    if (needsMoreResolution(m_current, m_view->zoomFactor(), m_view->devicePixelRatioF())) {
        m_fullResolutionRequested = current;
        logTiming(QStringLiteral("detail requested ") + current);
        m_prefetcher->requestFullResolution(current);
    }
}

void ImageStepper::onFullResolution(const DecodedImage &image)
{
    if (image.path != shownPath() || image.fullSize != m_current.fullSize)
        return;
    // A coarse image's replacement that comes after full detail would take detail away.
    if (image.fitInto.isValid() && !m_current.coarse)
        return;
    m_current = image;
    if (m_current.adjustment != m_adjustment)
        m_current.setAdjustment(m_adjustment);
    m_view->replaceImagePixels(m_current.shown());
    watchForPaint(QStringLiteral("detail painted ") + image.path);
    if (image.fitInto.isValid()) {
        // A coarse image made good: held instead of it, and maybe the user zoomed in meanwhile.
        m_prefetcher->insert(m_current);
        onZoomChanged();
    }
}

void ImageStepper::refineCoarseImage()
{
    if (m_current.coarse && m_current.path == shownPath())
        m_prefetcher->requestFullResolution(m_current.path, fitArea());
}

bool ImageStepper::setAdjustment(const ImageAdjustment &adjustment)
{
    if (adjustment == m_adjustment)
        return false;
    m_adjustment = adjustment;
    m_prefetcher->setAdjustment(adjustment);
    if (m_current.isNull())
        return true;
    // From the decoded pixels, not from the ones shown: steps do not pile up rounding.
    m_current.setAdjustment(adjustment);
    m_view->replaceImagePixels(m_current.shown());
    watchForPaint(QStringLiteral("adjustment painted"));
    return true;
}
