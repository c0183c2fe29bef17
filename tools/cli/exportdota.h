#pragma once

#include <QString>

// export --to dota: the saved labels of DIR as a DOTA labelTxt folder under output.
int exportDotaFolder(const QString &dir, const QString &output, bool includeUnlabelled);
