#pragma once

#include <QMetaType>
#include <QString>

// One finding of the label checker. Plain value; crosses threads through queued signals.
struct LabelIssue
{
    QString path;      // the image's full path
    QString problem;   // short name of the finding
    QString detail;    // the finding in words

    friend bool operator==(const LabelIssue &a, const LabelIssue &b)
    {
        return a.path == b.path && a.problem == b.problem && a.detail == b.detail;
    }
    friend bool operator!=(const LabelIssue &a, const LabelIssue &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(LabelIssue)

// Registers "LabelIssue" for queued connections; safe to call repeatedly.
void registerLabelIssueMetaType();
