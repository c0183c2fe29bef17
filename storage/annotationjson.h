#pragma once

#include "storage/annotation.h"

#include <QJsonObject>

// The command-line form of one annotation:
// {"kind":"rect"|"polygon","label":L,"rect":[left,top,width,height],"points":[[x,y],...],
//  "confidence":C,"difficult":bool,"pending":0|1}
// A box of a pose dataset also has "keypoints":[[x,y,visibility],...] ([x,y] for two values).
QJsonObject annotationToJson(const Annotation &annotation);
