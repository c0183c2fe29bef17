#pragma once

// Fixtures of the tests that drive VllmClient against FakeOpenAiServer; header-only, because
// testsupport does not link the inference library (each of these tests does).

#include "inference/autolabeltask.h"
#include "inference/vllmclient.h"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>

#include "support/fakeopenaiserver.h"

inline const QString kCat = QStringLiteral("[{\"label\":\"cat\",\"bbox_2d\":[100,200,300,400],\"score\":0.9}]");

// Every signal of one task, checked for the exactly-once rules.
struct ClientRun
{
    explicit ClientRun(VllmClient *client)
        : busy(client, &VllmClient::busyChanged)
        , images(client, &VllmClient::imageFinished)
        , progress(client, &VllmClient::progress)
        , finished(client, &VllmClient::taskFinished)
    {
    }
    QSignalSpy busy;
    QSignalSpy images;
    QSignalSpy progress;
    QSignalSpy finished;

    ImageResult image(int i) const { return images.at(i).at(0).value<ImageResult>(); }
    TaskSummary end() const { return finished.first().at(0).value<TaskSummary>(); }
    // done, total, added, average confidence, failed, cancelled of the task's nth end.
    QList<QVariant> endFields(qsizetype i) const
    {
        const TaskSummary e = finished.at(i).at(0).value<TaskSummary>();
        return {e.done, e.total, e.added, e.avgConfidence, e.failed, e.cancelled};
    }
    QList<ImageResult> results() const
    {
        QList<ImageResult> all;
        for (const QList<QVariant> &report : images)
            all.append(report.at(0).value<ImageResult>());
        return all;
    }
    QList<Annotation> anns(int i) const { return image(i).annotations; }
};

// A PNG with a few white pixels on green in dir; empty when it cannot be written.
inline QString writeTestImage(const QString &dir, QSize size, const QString &name)
{
    QImage img(size, QImage::Format_RGB32);
    img.fill(QColor(80, 120, 40));
    for (int x = 0; x < qMin(size.width(), 50); ++x)
        img.setPixelColor(x, x % size.height(), Qt::white);
    const QString path = QDir(dir).filePath(name);
    return img.save(path) ? path : QString();
}

inline AutoLabelTask testTask(const QString &baseUrl, const QStringList &paths, int concurrency)
{
    AutoLabelTask t;
    t.paths = paths;
    t.server.baseUrl = baseUrl;
    t.server.model = QStringLiteral("test-model");
    t.server.concurrency = concurrency;
    return t;
}

inline QString userTextOf(const QJsonObject &body)
{
    const QJsonArray parts = body.value("messages").toArray().at(1).toObject().value("content").toArray();
    return parts.at(0).toObject().value("text").toString();
}

inline QString imageUrlOf(const QJsonObject &body)
{
    const QJsonArray parts = body.value("messages").toArray().at(1).toObject().value("content").toArray();
    return parts.at(1).toObject().value("image_url").toObject().value("url").toString();
}

// A fake server and a client made afresh for each test function, images written in one folder.
// The test class derives from it beside QObject and calls these from init() and cleanup().
class ClientFixture
{
protected:
    bool startServer(QObject *parent)
    {
        m_server = new FakeOpenAiServer(parent);
        m_client = new VllmClient(parent);
        return m_dir.isValid() && m_server->listen();
    }
    void stopServer()
    {
        delete m_client;
        m_client = nullptr;
        delete m_server;
        m_server = nullptr;
    }
    QString image(QSize size, const QString &name = QString())
    {
        return writeTestImage(m_dir.path(), size,
                              name.isEmpty() ? QStringLiteral("img%1.png").arg(++m_imageCount) : name);
    }
    AutoLabelTask task(const QStringList &paths, int concurrency = 1) const
    {
        return testTask(m_server->baseUrl(), paths, concurrency);
    }

    QTemporaryDir m_dir;
    FakeOpenAiServer *m_server = nullptr;
    VllmClient *m_client = nullptr;
    int m_imageCount = 0;
};
