// A stand-in for llama-server in tests. It records its command line, prints like a server, and
// answers GET /v1/models on --port after a delay. Behaviour comes from the environment:
//   FAKE_LLAMA_RECORD    file that receives the process id, then one argument per line
//   FAKE_LLAMA_DELAY_MS  time before the port opens (default 300)
//   FAKE_LLAMA_MODE      "ok" (200), "http500" (answers 500), "silent" (accepts, never answers),
//                        "exit:N" (prints an error and exits with code N instead of listening)
//   FAKE_LLAMA_CHATTER_MB  prints that many MiB of log lines before it listens, then
//                        "fake llama-server: chatter done"
//   SIGUSR1              exits at once with code 3, as a server that dies while running
#include <QCoreApplication>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void exitOnSignal(int)
{
    static const char message[] = "fake llama-server: dying\n";
    if (::write(STDOUT_FILENO, message, sizeof message - 1) < 0)
        ::_exit(3);
    ::_exit(3);
}

void answer(QTcpSocket *socket, const QByteArray &mode)
{
    say("fake llama-server: request (" + mode + ")");
    if (mode == "silent")
        return;
    const bool ok = mode != "http500";
    const QByteArray body = ok ? QByteArray(R"({"object":"list","data":[{"id":"fake","object":"model"}]})")
                               : QByteArray(R"({"error":"loading"})");
    QByteArray response = ok ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.1 500 Internal Server Error\r\n";
    response += "Content-Type: application/json\r\nContent-Length: " + QByteArray::number(body.size())
        + "\r\nConnection: close\r\n\r\n" + body;
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    std::signal(SIGUSR1, exitOnSignal);
    const QStringList args = app.arguments().mid(1);

    const QString record = qEnvironmentVariable("FAKE_LLAMA_RECORD");
    if (!record.isEmpty()) {
        QFile file(record);
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            file.write(QByteArray::number(QCoreApplication::applicationPid()) + '\n');
            for (const QString &arg : args)
                file.write(arg.toUtf8() + '\n');
        }
    }

    int port = 8080;
    const int portIndex = args.indexOf(QStringLiteral("--port"));
    if (portIndex >= 0 && portIndex + 1 < args.size())
        port = args.at(portIndex + 1).toInt();
    const QByteArray mode = qgetenv("FAKE_LLAMA_MODE").isEmpty() ? QByteArray("ok") : qgetenv("FAKE_LLAMA_MODE");
    const int delay = qEnvironmentVariableIsSet("FAKE_LLAMA_DELAY_MS")
        ? qEnvironmentVariableIntValue("FAKE_LLAMA_DELAY_MS") : 300;

    say("fake llama-server: loading model");
    const int chatterMb = qEnvironmentVariableIntValue("FAKE_LLAMA_CHATTER_MB");
    if (chatterMb > 0) {
        const QByteArray line = "fake llama-server: chatter " + QByteArray(100, 'x') + '\n';
        for (qint64 written = 0; written < (qint64(chatterMb) << 20); written += line.size())
            std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
        say("fake llama-server: chatter done");
    }
    QTcpServer server;
    QTimer::singleShot(delay, &app, [&] {
        if (mode.startsWith("exit:")) {
            say("fake llama-server: error: failed to load model");
            QCoreApplication::exit(mode.mid(5).toInt());
            return;
        }
        if (!server.listen(QHostAddress::LocalHost, quint16(port))) {
            say("fake llama-server: couldn't bind to server socket: port " + QByteArray::number(port));
            QCoreApplication::exit(1);
            return;
        }
        say("fake llama-server: listening on 127.0.0.1:" + QByteArray::number(port));
    });
    QObject::connect(&server, &QTcpServer::newConnection, &app, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, mode] {
                if (socket->property("answered").toBool())
                    return;
                if (!socket->peek(4096).contains("\r\n\r\n"))
                    return;
                socket->setProperty("answered", true);
                answer(socket, mode);
            });
        }
    });
    return app.exec();
}
