#pragma once

#include <QString>

class QLocalServer;
class QObject;
class QWidget;

// Second-start path: when another instance answers, asks it to show itself and returns true.
// A path given (a folder or an image) follows "show" on a line of its own: the running instance
// saves its image and opens that path.
bool askRunningInstanceToShow(const QString &path = QString());

// Becomes the first instance: removes a stale socket and listens. Returns the server even when
// listening failed; the program then runs without single-instance protection.
QLocalServer *listenAsFirstInstance(QObject *parent);

// Drains every pending connection and brings each MainWindow to the front; a path that a second
// start sends (see askRunningInstanceToShow) is opened once that start has said all.
void handleActivation(QLocalServer *server);

// Restores a window from minimised, raises and activates it.
void bringToFront(QWidget *window);

// Starts the companion tray program detached when it sits in appDir and its socket is silent,
// telling it this process's id ("--window-pid N").
// Returns true when a start was attempted.
bool startCompanionIfNeeded(const QString &appDir);
