#pragma once

#include <QString>

class QLocalServer;
class QObject;
class QWidget;

// Second-start path: when another instance answers, asks it to show itself and returns true.
bool askRunningInstanceToShow();

// Becomes the first instance: removes a stale socket and listens. Returns the server even when
// listening failed; the program then runs without single-instance protection.
QLocalServer *listenAsFirstInstance(QObject *parent);

// Drains every pending connection and brings each MainWindow to the front.
void handleActivation(QLocalServer *server);

// Restores a window from minimised, raises and activates it.
void bringToFront(QWidget *window);

// Starts the companion tray program detached when it sits in appDir and its socket is silent.
// Returns true when a start was attempted.
bool startCompanionIfNeeded(const QString &appDir);
