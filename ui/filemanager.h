#pragma once

#include <QString>

#include <functional>

class QDBusConnection;

// How a request to show a file in the desktop's file manager was served.
enum class FileManagerOutcome {
    Selected,       // a file manager showed the file selected
    FolderOpened,   // no file manager answered: the containing folder was opened instead
};

// Shows the file selected in the desktop's file manager; where that is impossible, opens the
// folder that holds it. Returns at once: the file manager's answer is awaited in the event loop,
// and `done` (optional) learns which way it went.
void showInFileManager(const QString &path, std::function<void(FileManagerOutcome)> done = {});

// The same through a given D-Bus connection (the session bus in the program, a private bus in
// tests). A bus that is not connected or a call that fails opens the folder.
void showInFileManager(const QString &path, const QDBusConnection &bus,
                       std::function<void(FileManagerOutcome)> done = {});
