#include "ui/emptystate.h"

#include "shared/language.h"

#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

EmptyState::EmptyState(QWidget *parent)
    : QWidget(parent)
{
    auto *picture = new QLabel(this);
    picture->setPixmap(QIcon(QStringLiteral(":/icons/empty.svg")).pixmap(96, 96));
    picture->setAlignment(Qt::AlignCenter);

    m_hint = new QLabel(this);
    m_hint->setObjectName(QStringLiteral("dim"));
    m_hint->setAlignment(Qt::AlignCenter);

    m_openButton = new QPushButton(this);
    m_openButton->setObjectName(QStringLiteral("primary"));
    m_openButton->setCursor(Qt::PointingHandCursor);
    connect(m_openButton, &QPushButton::clicked, this, &EmptyState::openDirectoryRequested);

    auto *buttonRow = new QHBoxLayout;
    buttonRow->addStretch(1);
    buttonRow->addWidget(m_openButton);
    buttonRow->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(picture);
    layout->addSpacing(12);
    layout->addWidget(m_hint);
    layout->addSpacing(16);
    layout->addLayout(buttonRow);
    layout->addStretch(2);

    retranslate();
}

void EmptyState::retranslate()
{
    m_hint->setText(translateText("暂无图片 — 打开图片目录开始标注"));
    m_openButton->setText(translateText("打开图片目录"));
}
