#include "storage/annotation.h"

void registerAnnotationMetaTypes()
{
    qRegisterMetaType<Annotation>("Annotation");
    qRegisterMetaType<QList<Annotation>>("QList<Annotation>");
}
