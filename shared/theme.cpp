#include "shared/theme.h"

#include <QApplication>
#include <QFile>
#include <QPalette>

bool installStyleSheet(const QString &resourcePath)
{
    QFile file(resourcePath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    qApp->setStyleSheet(QString::fromUtf8(file.readAll()));
    return true;
}

void installDarkPalette()
{
    QPalette palette = QApplication::palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(Theme::bg, Qt::SolidPattern));
    palette.setBrush(QPalette::All, QPalette::Base, QBrush(Theme::panel, Qt::SolidPattern));
    QApplication::setPalette(palette);
}
