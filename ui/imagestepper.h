#pragma once

#include "ui/imagedecoder.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class CanvasView;
class FileListPanel;
class FolderSession;
class ImagePrefetcher;
class InputTimingProbe;
class QTimer;
class QWidget;

// The image on the canvas as pixels: decoding it (from the prefetcher, or here, coarse while a
// key is held), fitting it to the canvas, decoding its neighbours ahead in the direction of
// travel, more detail on zooming in, the display's brightness and contrast, and the timing log's
// paint milestones. The window decides which image to show; the stepper gets its pixels there.
// Owner's (GUI) thread only.
class ImageStepper : public QObject
{
    Q_OBJECT
public:
    // The session tells the image shown and the folder's order, the file list which images its
    // filter shows; neither is owned.
    ImageStepper(CanvasView *view, FolderSession *session, FileListPanel *fileList, QObject *parent = nullptr);
    ~ImageStepper() override;

    // Timing only: logs key presses and the idle moments after each paint milestone.
    void startTimingProbe(QWidget *window, std::function<QString()> state);

    // The pixels for path: held by the prefetcher, else decoded here (coarse during a step).
    DecodedImage decode(const QString &path) const;
    // Pixels decoded elsewhere (the launch's first image), kept like a prefetched image.
    void hold(const DecodedImage &decoded);
    // decoded goes on the canvas (under the display adjustment).
    void install(const DecodedImage &decoded);
    // After the window has shown the rest of the new image: its paint is timed, a coarse image
    // is made good once the user stops, and its neighbours are decoded. At the launch
    // (afterPaint) they wait for the canvas's paint: a step right after it finds them decoded,
    // and the first frame keeps both cores.
    void settle(const QString &path, bool afterPaint = false);
    // The images the next steps would show, decoded ahead (settle asks for them too).
    void prefetchNeighbours();
    // More of the folder's order is known: at the launch, the neighbours of an image painted
    // before they were listed are decoded now.
    void neighboursListed();
    // No image on the canvas.
    void forget();
    const DecodedImage &current() const { return m_current; }
    // Images the prefetcher holds: all of them (another folder) or one (deleted).
    void dropHeldImages();
    void dropHeldImage(const QString &path);

    // A step of +-n images starts: its direction is the direction of travel.
    void noteDirection(int step);
    // A step taken now, closer to the last than a held key's repeat, decodes coarse until endStep.
    void beginStep();
    void endStep();
    // A step forward from the last image listed waits for the listing; taking it clears it.
    void deferStep(int step) { m_deferredStep = step; }
    int takeDeferredStep() { return std::exchange(m_deferredStep, 0); }

    // False when unchanged. Session memory only: a new start shows images as they are.
    bool setAdjustment(const ImageAdjustment &adjustment);
    ImageAdjustment adjustment() const { return m_adjustment; }

    // The canvas zoomed: an image too coarse for it is decoded in full detail.
    void onZoomChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QSize fitArea() const;
    void onFullResolution(const DecodedImage &image);
    void refineCoarseImage();
    // Logs milestone (and then "idle milestone") once the canvas has painted; timing log only.
    void watchForPaint(const QString &milestone);
    QString shownPath() const;

    CanvasView *m_view;
    FolderSession *m_session;
    FileListPanel *m_fileList;
    ImagePrefetcher *m_prefetcher;
    QTimer *m_refineTimer;
    InputTimingProbe *m_timingProbe = nullptr;   // only while timing is on
    DecodedImage m_current;
    QString m_fullResolutionRequested;
    ImageAdjustment m_adjustment;
    int m_travel = 1;   // the direction of the last step: its next images are decoded ahead
    QElapsedTimer m_lastStep;
    int m_deferredStep = 0;
    bool m_quickDecode = false;   // a step right after another: an image not decoded ahead comes coarse
    QString m_paintWatch;         // the milestone of the next canvas paint
    bool m_prefetchOnPaint = false;   // the neighbours wait for the canvas's next paint
};
