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
// is killed when the thread that started it ends (start it from the main thread). The child leads
// a process group of its own, and a small watchdog in that group ends the whole group as soon as
// this program is gone, even killed with SIGKILL: a wrapper script's llama-server goes too.
QProcess *createServerProcess(QObject *parent);

// Kills a running server and everything it started (a wrapper script's llama-server too): the
// process leads its own group.
void killServerProcess(QProcess *process);

// Ends what is left of a server's process group once its first process has ended (a wrapper
// script that exited while its llama-server runs on).
void endServerGroup(qint64 group);

// The process group of the server this program started, kept in its settings while the server
// runs, so that a start after a crash can end a server that nothing else ended.
void recordServerGroup(qint64 group);
void forgetServerGroup();
// Ends the recorded group if it still runs and is the one recorded (same boot, same first
// process); true when it did. The record is forgotten either way.
bool endRecordedServerGroup();

// Ids of the processes that hold a socket listening on the TCP port (IPv4 or IPv6, any address).
QList<qint64> listeningProcessIds(int port);

// Ends the processes that listen on the port, except this one. Best effort: returns how many
// were signalled.
int endPortOwners(int port);
