#pragma once

#include <QByteArray>

// labelme and X-AnyLabeling files as those tools write them, for a 200x100 image "pic.png".
namespace LabelmeSamples {

// labelme: a box, an instance polygon of the same group, and a circle, a line and a point that we
// keep as they are; top-level keys of its own and one no tool we know writes.
inline QByteArray labelme()
{
    return R"({
  "version": "5.2.1",
  "flags": {"reviewed": true},
  "shapes": [
    {"label": "person", "points": [[10.5, 20.0], [60.0, 80.25]], "group_id": 1, "description": "front",
     "shape_type": "rectangle", "flags": {"occluded": false}, "mask": null},
    {"label": "ball", "points": [[120.0, 70.0], [125.0, 70.0]], "group_id": null, "description": "",
     "shape_type": "circle", "flags": {}},
    {"label": "person", "points": [[20.0, 30.0], [40.0, 30.0], [30.0, 60.0]], "group_id": 1, "description": "",
     "shape_type": "polygon", "flags": {}, "attributes": {"pose": "standing"}},
    {"label": "wire", "points": [[1.0, 1.0], [50.0, 50.0]], "group_id": null, "shape_type": "line", "flags": {}},
    {"label": "nose", "points": [[33.0, 44.0]], "group_id": 2, "shape_type": "point", "flags": {}}
  ],
  "imagePath": "pic.png",
  "imageData": "iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk+M9QDwADhgGAWjR9awAAAABJRU5ErkJggg==",
  "imageHeight": 100,
  "imageWidth": 200,
  "siteNote": {"camera": 3, "tags": ["a", "b"]}
})";
}

// X-AnyLabeling: rectangles as four corners, "difficult" and "score" on every shape, a rotated box.
inline QByteArray xAnyLabeling()
{
    return R"({
  "version": "2.4.4",
  "flags": {},
  "shapes": [
    {"label": "car", "score": null, "points": [[100.0, 10.0], [150.0, 10.0], [150.0, 40.0], [100.0, 40.0]],
     "group_id": null, "description": "", "difficult": true, "shape_type": "rectangle", "flags": {},
     "attributes": {}, "kie_linking": []},
    {"label": "sign", "score": 0.87, "points": [[10.0, 10.0], [30.0, 10.0], [30.0, 30.0], [10.0, 30.0]],
     "group_id": null, "description": "", "difficult": false, "shape_type": "rectangle", "flags": {},
     "attributes": {}, "kie_linking": []},
    {"label": "boat", "score": null, "points": [[60.0, 60.0], [80.0, 62.0], [78.0, 80.0], [58.0, 78.0]],
     "group_id": null, "description": "", "difficult": false, "shape_type": "rotation", "flags": {},
     "attributes": {}, "kie_linking": [], "direction": 0.1}
  ],
  "imagePath": "pic.png",
  "imageData": null,
  "imageHeight": 100,
  "imageWidth": 200,
  "description": ""
})";
}

} // namespace LabelmeSamples
