#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// One finding of the label checker. Plain value; crosses threads through queued signals. It holds
// what was found, not words: the texts are made in the interface language when they are shown.
struct LabelIssue
{
    enum class Kind {
        FormatConflict,    // args: none (VOC and YOLO), or the format read and the others
        OutsideImage,
        TinyBox,
        UnknownCategory,
        Duplicate,
        UnreadableLabel,   // args: the file, its ReadProblem name, the place (line or object number)
        ModelMissed,
        ModelOffset,
        ModelMislabel,
        ModelUnlabelled,
        InferenceFailed,
    };

    QString path;       // the image's full path
    Kind kind = Kind::FormatConflict;
    QStringList args;   // the values the finding names, in the order of its text's placeholders

    // Machine-readable name of the kind, for scripts: "tiny_box", "model_missed", ...
    QString kindName() const;
    // Found by comparing with the model's view (or by failing to get it), not by a rule.
    bool fromModel() const { return kind >= Kind::ModelMissed; }
    // The place (from 1) in the image's label file of the shape the finding names (its "#4"),
    // 0 when it names none.
    int shapeNumber() const;
    // Short name and sentence of the finding, in the current interface language.
    QString problem() const;
    QString detail() const;

    friend bool operator==(const LabelIssue &a, const LabelIssue &b)
    {
        return a.path == b.path && a.kind == b.kind && a.args == b.args;
    }
    friend bool operator!=(const LabelIssue &a, const LabelIssue &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(LabelIssue)

// Registers "LabelIssue" for queued connections; safe to call repeatedly.
void registerLabelIssueMetaType();
