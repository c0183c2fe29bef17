#pragma once

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Output of the command-line tool: JSON Lines and plain lines on stdout, messages on stderr.
namespace Cli {

enum ExitCode { Ok = 0, ItemFailed = 1, UsageError = 2 };

void printLine(const QString &line);
void printJson(const QJsonObject &object);
void printError(const QString &message);
// Prints "usage: brindlemark-cli <usage>" (in the locale's language) on stderr and returns UsageError.
int usage(const QString &usage);
// All of standard input; false when it cannot be read (closed, a directory, an I/O error).
bool readStandardInput(QByteArray *bytes);
// Absolute path with "/" separators, as the directory listing gives it.
QString absolutePath(const QString &path);

// The images of dir in listing order. An image whose name is not valid UTF-8 cannot be opened by
// any path: it is named on standard error and *complete (when given) becomes false.
QStringList listImages(const QString &dir, bool *complete = nullptr);
// Names such images on standard error.
void reportUnlistable(const QStringList &names);

// The images a command on a folder works on, by folder: the folder's own, or, for a dataset root
// that holds none itself, those of the image folders the window offers there (images/train,
// images/val, JPEGImages, obj_train_data...), each with its own listing.
struct ImageFolder
{
    QString dir;          // absolute
    QStringList images;   // in listing order
};
QList<ImageFolder> datasetImages(const QString &dir, bool *complete = nullptr);
QStringList imagesOf(const QList<ImageFolder> &folders);
// "no images in DIR" (in the locale's language) on standard error when folders hold no image: a command must not pass on a
// folder it never read. Returns true then (the caller exits with UsageError).
bool reportNoImages(const QList<ImageFolder> &folders, const QString &dir);

// One option or one plain word of a command line, in the order given.
struct Argument
{
    QString name;    // "--to"; empty for a plain word
    QString value;   // the option's value, or the word
    bool isWord() const { return name.isEmpty(); }
};

// Splits a command's arguments into options and plain words. Options with a value are written
// "--name value" or "--name=value"; flags have none; "--" makes every later argument a word.
// On a usage error the result is empty and *error says what is wrong.
QList<Argument> splitArguments(const QStringList &args, const QStringList &valueOptions,
                               const QStringList &flags, QString *error);

// "--classes a, b,,c" gives a, b and c.
QStringList classList(const QString &value);
// The http(s) base URL of a server without trailing slashes; empty when value is not one.
QString serverBaseUrl(const QString &value);
// An integer option's value within [low, high]; value untouched and false otherwise.
bool parseInt(const QString &text, int low, int high, int &value);

} // namespace Cli
