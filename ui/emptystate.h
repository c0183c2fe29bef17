#pragma once

#include <QWidget>

class QLabel;
class QPushButton;

// The picture, hint and button shown over the canvas while no image list is loaded.
class EmptyState : public QWidget
{
    Q_OBJECT
public:
    explicit EmptyState(QWidget *parent = nullptr);
    void retranslate();

Q_SIGNALS:
    void openDirectoryRequested();

private:
    QLabel *m_hint = nullptr;
    QPushButton *m_openButton = nullptr;
};
