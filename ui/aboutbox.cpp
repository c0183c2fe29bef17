#include "ui/aboutbox.h"

#include "shared/language.h"

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QPushButton>

QString aboutText()
{
    return QStringLiteral("Brindlemark v1.2.0\n") + translateText("目标检测与分割标注工具") + QLatin1Char('\n')
        + translateText("集成 Qwen3.5-VL 模型本地预标注") + QStringLiteral("\n\n")
        + translateText("基于 Qt %1 构建").arg(QString::fromLatin1(qVersion()));
}

QMessageBox *createAboutBox(QWidget *parent)
{
    auto *box = new QMessageBox(parent);
    box->setWindowTitle(translateText("关于 Brindlemark"));
    box->setTextFormat(Qt::PlainText);
    box->setText(aboutText());
    // Our own button, so that it follows the interface language.
    QPushButton *ok = box->addButton(translateText("确定"), QMessageBox::AcceptRole);
    box->setDefaultButton(ok);
    box->setEscapeButton(ok);
    // As QMessageBox::about does: the program's own icon.
    QIcon icon = parent ? parent->windowIcon() : QApplication::windowIcon();
    if (icon.isNull())
        icon = QIcon(QStringLiteral(":/icons/app.svg"));
    box->setIconPixmap(icon.pixmap(64, 64));
    return box;
}

void showAboutBox(QWidget *parent)
{
    QMessageBox *box = createAboutBox(parent);
    box->exec();
    delete box;
}
