#pragma once

#include <QString>

class QLocalServer;
class QObject;

// Names both programs agree on. The sockets live in the user's runtime directory so that two users
// on one machine never see or remove each other's instance.
inline constexpr char kBrindlemarkServerName[] = "Brindlemark-singleton";
inline constexpr char kBrindlehostServerName[] = "Brindlehost-singleton";

// Full path of a single-instance socket in the user's runtime directory (without one, a folder of
// ours in the temporary directory). Empty when that folder is not ours alone (owner, mode 0700):
// then there is no single-instance hand-off.
QString localServerPath(const QString &name);

// True when a local server of that name accepts a connection within timeoutMs.
bool localServerAnswers(const QString &name, int timeoutMs);

// Removes a stale socket of that name and listens on it, owned by parent. Returns the server even
// when listening failed (said on stderr when there is no private folder); the caller then runs
// without single-instance protection.
QLocalServer *listenLocalServer(const QString &name, QObject *parent);

// File name of the companion tray program ("Brindlehost", with ".exe" on Windows).
QString companionFileName();
