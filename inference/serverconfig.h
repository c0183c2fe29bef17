#pragma once

#include <QString>

// Where and how to reach the inference server. Paths are appended to baseUrl as plain text.
struct ServerConfig
{
    QString baseUrl = QStringLiteral("http://127.0.0.1:8000/v1");
    QString model = QStringLiteral("Qwen/Qwen3.5-VL-2B");
    qint32 concurrency = 1;   // below 1 counts as 1
    qint32 timeout = 300;     // transfer time-out in seconds; below 5 counts as 5
};
