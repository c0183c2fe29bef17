#include "ui/emptystate.h"

#include "shared/language.h"

#include <QDir>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
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

    m_folderBox = new QWidget(this);
    auto *folderLayout = new QVBoxLayout(m_folderBox);
    folderLayout->setContentsMargins(0, 0, 0, 0);
    folderLayout->setSpacing(6);
    m_folderBox->hide();

    auto *layout = new QVBoxLayout(this);
    layout->addStretch(1);
    layout->addWidget(picture);
    layout->addSpacing(12);
    layout->addWidget(m_hint);
    layout->addSpacing(16);
    layout->addWidget(m_folderBox, 0, Qt::AlignHCenter);
    layout->addLayout(buttonRow);
    layout->addStretch(2);

    retranslate();
}

void EmptyState::retranslate()
{
    m_hint->setText(m_folders.isEmpty() ? translateText("暂无图片 — 打开图片目录开始标注")
                                        : translateText("这个目录里没有图片，它的子目录里有："));
    m_openButton->setText(m_folders.isEmpty() ? translateText("打开图片目录") : translateText("打开其他目录…"));
}

QString EmptyState::hintText() const
{
    return m_hint->text();
}

void EmptyState::setSubfolders(const QString &dir, const QStringList &folders)
{
    if (dir == m_dir && folders == m_folders)
        return;
    m_dir = dir;
    m_folders = folders;
    const QList<QPushButton *> old = m_folderBox->findChildren<QPushButton *>();
    qDeleteAll(old);
    for (const QString &folder : folders) {
        // Named as below the folder opened ("images/train"), opened by a click.
        auto *button = new QPushButton(QDir(dir).relativeFilePath(folder), m_folderBox);
        button->setObjectName(QStringLiteral("subfolder"));
        button->setCursor(Qt::PointingHandCursor);
        connect(button, &QPushButton::clicked, this, [this, folder] { emit subfolderRequested(folder); });
        m_folderBox->layout()->addWidget(button);
    }
    m_folderBox->setVisible(!folders.isEmpty());
    m_openButton->setObjectName(folders.isEmpty() ? QStringLiteral("primary") : QString());
    m_openButton->style()->unpolish(m_openButton);
    m_openButton->style()->polish(m_openButton);
    retranslate();
}
