#pragma once

#include "ui/imageadjustment.h"

#include <QFrame>

class QLabel;
class QPushButton;
class QSlider;

// The popup of the status bar's brightness and contrast readout: two sliders and a reset button.
// It shows a setting and reports the user's changes; the window applies them.
class AdjustmentPopup : public QFrame
{
    Q_OBJECT
public:
    explicit AdjustmentPopup(QWidget *parent = nullptr);

    // Shows adjustment without reporting it back.
    void setAdjustment(const ImageAdjustment &adjustment);
    ImageAdjustment adjustment() const;
    // Opens with its bottom edge just above anchor (a widget of the status bar), kept on screen.
    void popUpAbove(QWidget *anchor);
    void retranslate();

    QSlider *brightnessSlider() const { return m_brightness; }
    QSlider *contrastSlider() const { return m_contrast; }
    QPushButton *resetButton() const { return m_reset; }

signals:
    void adjustmentChanged(const ImageAdjustment &adjustment);

private:
    void showValues();

    QLabel *m_brightnessName;
    QLabel *m_contrastName;
    QSlider *m_brightness;
    QSlider *m_contrast;
    QLabel *m_brightnessValue;
    QLabel *m_contrastValue;
    QLabel *m_note;
    QPushButton *m_reset;
};
