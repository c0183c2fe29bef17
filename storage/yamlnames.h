#pragma once

#include <QString>
#include <QStringList>

// The class names of a dataset YAML file (Ultralytics, Roboflow): its top-level `names`, either a
// list or a map from class index to name. Reentrant; never throws.

enum class YamlNames {
    Found,       // names holds them
    NoNames,     // a YAML mapping without a usable `names` key, or not a dataset file at all
    Unreadable,  // the file cannot be read or parsed
};

// names receives one entry per index; an index a map leaves out, or a name that is not text, is
// an empty entry. Indices above kMaxYamlClassIndex are ignored: a stray huge key must not make
// a list of millions of classes.
constexpr int kMaxYamlClassIndex = 99999;
YamlNames readYamlNames(const QString &path, QStringList *names);
