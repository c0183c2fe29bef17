#include "storage/readproblem.h"

#include <array>
#include <utility>

namespace {

const std::array<std::pair<ReadProblem::Kind, const char *>, 9> kNames{{
    {ReadProblem::Unreadable, "unreadable"},
    {ReadProblem::TooLarge, "too_large"},
    {ReadProblem::XmlError, "xml_error"},
    {ReadProblem::ExternalEntity, "external_entity"},
    {ReadProblem::UnusableObject, "unusable_object"},
    {ReadProblem::UnusableLine, "unusable_line"},
    {ReadProblem::NoImageSize, "no_image_size"},
    {ReadProblem::ClassNames, "class_names"},
    {ReadProblem::JsonError, "json_error"},
}};

} // namespace

QString ReadProblem::name() const
{
    for (const auto &[k, text] : kNames) {
        if (k == kind)
            return QString::fromLatin1(text);
    }
    return QString();
}

ReadProblem::Kind ReadProblem::kindNamed(const QString &name)
{
    for (const auto &[k, text] : kNames) {
        if (name == QLatin1String(text))
            return k;
    }
    return None;
}
