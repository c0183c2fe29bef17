#include "host/servicestatus.h"

#include "host/servicesettings.h"
#include "shared/language.h"

#include <QPainter>
#include <QPixmap>

QString stateName(ServiceState state)
{
    switch (state) {
    case ServiceState::Stopped: return QStringLiteral("Stopped");
    case ServiceState::Starting: return QStringLiteral("Starting");
    case ServiceState::Online: return QStringLiteral("Online");
    case ServiceState::Error: return QStringLiteral("Error");
    }
    return QString();
}

QColor statusColor(ServiceState state)
{
    switch (state) {
    case ServiceState::Stopped: return QColor(0x9A, 0xA3, 0xB2);
    case ServiceState::Starting: return QColor(0xE2, 0xB9, 0x3D);
    case ServiceState::Online: return QColor(0x3F, 0xB2, 0x7F);
    case ServiceState::Error: return QColor(0xE5, 0x53, 0x4B);
    }
    return QColor();
}

QIcon makeStatusIcon(const QColor &color)
{
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x2D, 0x32, 0x3D));
    painter.drawRoundedRect(QRectF(1, 1, 30, 30), 8, 8);
    painter.setBrush(color);
    painter.drawEllipse(QRectF(8, 8, 16, 16));
    painter.end();
    return QIcon(pixmap);
}

QString errorMessage(const QString &detail, const QString &argument)
{
    if (detail.isEmpty())
        return translateText("错误");
    QString text = withServerExecutableName(translateText(detail));
    if (!argument.isEmpty())
        text = text.arg(argument);
    return text;
}

QString statusLine(ServiceState state, const QString &detail, const QString &argument, int port)
{
    switch (state) {
    case ServiceState::Stopped: return translateText("● 服务未启动");
    case ServiceState::Starting: return translateText("● 启动中…");
    case ServiceState::Online: return translateText("● 在线 http://127.0.0.1:%1/v1").arg(port);
    case ServiceState::Error:
        return detail.isEmpty() ? translateText("● 错误")
                                : QStringLiteral("● ") + errorMessage(detail, argument);
    }
    return QString();
}

QString statusToolTip(ServiceState state, const QString &detail, const QString &argument,
                      const QString &modelFileName)
{
    switch (state) {
    case ServiceState::Stopped: return translateText("Brindlehost — 未启动");
    case ServiceState::Starting: return translateText("Brindlehost — 启动中（加载模型）");
    case ServiceState::Online: return translateText("Brindlehost — 在线（%1）").arg(modelFileName);
    case ServiceState::Error: return QStringLiteral("Brindlehost — ") + errorMessage(detail, argument);
    }
    return QString();
}

QString stateReport(ServiceState state, const QString &detail, const QString &argument)
{
    QString line = QStringLiteral("state: ") + stateName(state);
    if (state == ServiceState::Error && !detail.isEmpty()) {
        // The terminal's language, which may not be the one the tray speaks.
        QString text = withServerExecutableName(translateTextIn(environmentLanguage(), detail));
        if (!argument.isEmpty())
            text = text.arg(argument);
        line += QStringLiteral(": ") + text;
    }
    return line;
}
