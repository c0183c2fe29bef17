#pragma once

#include <QList>
#include <QStringList>

class QObject;
class QProcess;
struct ModelFiles;
struct ServiceSettings;

// The llama-server command line, in the fixed order the server is started with.
QStringList serverArguments(const ServiceSettings &settings, const ModelFiles &files);

// The health URL of the server on 127.0.0.1.
QString healthUrl(int port);

// A QProcess for the server, owned by parent: output channels merged, no terminal, and the child
// is killed when the thread that started it ends (start it from the main thread).
QProcess *createServerProcess(QObject *parent);

// Kills a running server and everything it started (a wrapper script's llama-server too): the
// process leads its own group.
void killServerProcess(QProcess *process);

// Ids of the processes that hold a socket listening on the TCP port (IPv4 or IPv6, any address).
QList<qint64> listeningProcessIds(int port);

// Ends the processes that listen on the port, except this one. Best effort: returns how many
// were signalled.
int endPortOwners(int port);
