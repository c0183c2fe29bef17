#include "checker/labelissue.h"

void registerLabelIssueMetaType()
{
    qRegisterMetaType<LabelIssue>("LabelIssue");
}
