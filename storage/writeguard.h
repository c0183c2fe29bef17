#pragma once

#include <QString>

// Datasets arrive as archives, and an archive can carry links: a label file, a class list or the
// pending file that is a link to ~/.bashrc, or a labels folder that leads out of the dataset. The
// program writes its own files only inside the dataset: a write that a link would carry outside
// it (or nowhere, for a dangling link) is refused. Reading through links is not affected.
// Reentrant.

// The deepest folder that holds both paths, compared as written (no links resolved): for an image
// and one of its own files, the dataset root that ties them together.
QString commonFolder(const QString &a, const QString &b);

// True when writing path (a file or a folder to create) stays inside root once every link on the
// way is followed, as the write would follow them, and inside the top folder of root it was aimed
// at (a link in images/ never leads to labels/ or beside them). False for a dangling link on the way.
bool writeStaysInside(const QString &path, const QString &root);

// Creates the folder with its missing parents, unless that would leave root.
bool makeFolderInside(const QString &dir, const QString &root);

// True when removing path (the entry itself, never what a link at it points to) takes an entry
// inside root: its folder, links resolved, lies inside root.
bool removalStaysInside(const QString &path, const QString &root);
