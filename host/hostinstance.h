#pragma once

class QLocalServer;
class QObject;

// Single instance of Brindlehost: true when another copy already answers (nothing is sent to it).
bool brindlehostAlreadyRunning();

// Removes a stale socket and listens as the running Brindlehost.
QLocalServer *listenAsBrindlehost(QObject *parent);
