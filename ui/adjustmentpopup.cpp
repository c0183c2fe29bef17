#include "ui/adjustmentpopup.h"

#include "shared/language.h"

#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QSlider>

#include <algorithm>
#include <cstdlib>

namespace {

QString signedPercent(int value)
{
    return (value < 0 ? QStringLiteral("\u2212") : (value > 0 ? QStringLiteral("+") : QString()))
        + QString::number(std::abs(value)) + QLatin1Char('%');
}

QSlider *makeSlider(int minimum, int maximum, QWidget *parent)
{
    auto *slider = new QSlider(Qt::Horizontal, parent);
    slider->setRange(minimum, maximum);
    slider->setSingleStep(ImageAdjustment::kStep / 2);
    slider->setPageStep(ImageAdjustment::kStep);
    slider->setMinimumWidth(180);
    return slider;
}

} // namespace

AdjustmentPopup::AdjustmentPopup(QWidget *parent)
    : QFrame(parent, Qt::Popup)
{
    setObjectName(QStringLiteral("adjustmentPopup"));
    setStyleSheet(QStringLiteral("QFrame#adjustmentPopup{background:#262A33; border:1px solid #3A4150; border-radius:8px;}"
                                 "QLabel{background:transparent;}"));
    m_brightnessName = new QLabel(this);
    m_contrastName = new QLabel(this);
    m_brightness = makeSlider(ImageAdjustment::kMinBrightness, ImageAdjustment::kMaxBrightness, this);
    m_contrast = makeSlider(ImageAdjustment::kMinContrast, ImageAdjustment::kMaxContrast, this);
    m_brightness->setObjectName(QStringLiteral("brightnessSlider"));
    m_contrast->setObjectName(QStringLiteral("contrastSlider"));
    m_brightnessValue = new QLabel(this);
    m_contrastValue = new QLabel(this);
    // Room for "−100%" whatever the value: the sliders do not move while dragged.
    for (QLabel *value : {m_brightnessValue, m_contrastValue}) {
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setMinimumWidth(value->fontMetrics().horizontalAdvance(QStringLiteral("\u2212100%")) + 6);
    }
    m_note = new QLabel(this);
    m_note->setObjectName(QStringLiteral("dim"));
    m_note->setWordWrap(true);
    m_reset = new QPushButton(this);
    m_reset->setObjectName(QStringLiteral("adjustmentReset"));

    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    grid->addWidget(m_brightnessName, 0, 0);
    grid->addWidget(m_brightness, 0, 1);
    grid->addWidget(m_brightnessValue, 0, 2);
    grid->addWidget(m_contrastName, 1, 0);
    grid->addWidget(m_contrast, 1, 1);
    grid->addWidget(m_contrastValue, 1, 2);
    grid->addWidget(m_note, 2, 0, 1, 2);
    grid->addWidget(m_reset, 2, 2, Qt::AlignRight);
    grid->setColumnStretch(1, 1);

    for (QSlider *slider : {m_brightness, m_contrast}) {
        connect(slider, &QSlider::valueChanged, this, [this] {
            showValues();
            emit adjustmentChanged(adjustment());
        });
    }
    connect(m_reset, &QPushButton::clicked, this, [this] {
        setAdjustment(ImageAdjustment());
        emit adjustmentChanged(adjustment());
    });
    retranslate();
    showValues();
}

void AdjustmentPopup::setAdjustment(const ImageAdjustment &adjustment)
{
    const ImageAdjustment a = adjustment.clamped();
    const QSignalBlocker blockBrightness(m_brightness);
    const QSignalBlocker blockContrast(m_contrast);
    m_brightness->setValue(a.brightness);
    m_contrast->setValue(a.contrast);
    showValues();
}

ImageAdjustment AdjustmentPopup::adjustment() const
{
    return {m_brightness->value(), m_contrast->value()};
}

void AdjustmentPopup::popUpAbove(QWidget *anchor)
{
    adjustSize();
    QPoint at = anchor->mapToGlobal(QPoint(anchor->width() / 2 - width() / 2, -height() - 4));
    if (const QScreen *screen = anchor->screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(std::clamp(at.x(), room.left(), std::max(room.left(), room.right() - width())));
        at.setY(std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() - height())));
    }
    move(at);
    show();
    m_brightness->setFocus(Qt::PopupFocusReason);
}

void AdjustmentPopup::retranslate()
{
    m_brightnessName->setText(translateText("亮度"));
    m_contrastName->setText(translateText("对比度"));
    m_note->setText(translateText("只改变显示，不改变图片文件"));
    m_reset->setText(translateText("重置"));
    adjustSize();
}

void AdjustmentPopup::showValues()
{
    m_brightnessValue->setText(signedPercent(m_brightness->value()));
    m_contrastValue->setText(signedPercent(m_contrast->value()));
}
