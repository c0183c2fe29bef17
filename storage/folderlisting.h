#pragma once

#include "storage/filestamp.h"

#include <QSet>
#include <QString>

// The names in a folder, remembered per thread while the folder is unchanged. Lets the state
// scanner rule out most places where an image's label files could be without asking the file
// system about each of them.
class FolderListing
{
public:
    // A listing is known only when it can be trusted: the folder exists, is unchanged since it was
    // listed, and was listed well after its last change (a file created in the same clock tick as
    // the listing would otherwise be missed). Only on Linux, whose names compare exactly.
    static FolderListing of(const QString &dir);
    // A thread that looks up one image at a time (the window's) lists no folder: a folder of
    // 100,000 names would take longer than the few lookups it saves. On by default.
    static void listOnThisThread(bool on);

    bool known() const { return m_known; }
    // "Maybe" for an unknown listing: the caller then asks the file system.
    bool mayContain(const QString &name) const { return !m_known || m_names.contains(name); }
    bool contains(const QString &name) const { return m_names.contains(name); }

private:
    FileStamp m_stamp;
    QSet<QString> m_names;
    bool m_known = false;
};
