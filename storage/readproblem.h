#pragma once

#include <QString>
#include <QtGlobal>

// Why a label file could not be read to its end. A reading that has one must not replace the file
// it came from: what was left out would be lost.
struct ReadProblem
{
    enum Kind {
        None,
        Unreadable,       // cannot be opened, is no regular file, or reading failed
        TooLarge,         // larger than a label file may be (filebytes.h)
        XmlError,         // at: the line of the first XML error (entities past the reader's limit too)
        ExternalEntity,   // at: the line of a DOCTYPE that declares an external entity (never read)
        UnusableObject,   // at: the first VOC object, counted from 1, that cannot be used
        UnusableLine,     // at: the first YOLO line, counted from 1, that is not a label line
        NoImageSize,      // YOLO numbers are fractions of an image size that cannot be read
        ClassNames,       // the class names that give the numbers their meaning cannot be read
        JsonError,        // at: the line of the first JSON error, or 1 when the file is no labelme file
    };

    Kind kind = None;
    qint64 at = 0;   // 0 where the kind names no place

    bool isNone() const { return kind == None; }
    // For scripts: "unreadable", "too_large", "xml_error", ...; empty for None.
    QString name() const;
    // The kind of a name; None for any other text.
    static Kind kindNamed(const QString &name);

    friend bool operator==(const ReadProblem &a, const ReadProblem &b) { return a.kind == b.kind && a.at == b.at; }
    friend bool operator!=(const ReadProblem &a, const ReadProblem &b) { return !(a == b); }
};
