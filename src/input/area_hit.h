#pragma once
// Hit-testing a trigger's area where it is drawn: a point falls inside a graphic object when it
// lies on the picture the object draws, under the very transform and camera that draw it.
#include "graphics/display_device.h"
#include "graphics/graphic_object.h"
#include "input/input_manager.h"

namespace vaxo2::input {

// The camera the display device draws a tree with in a viewport of this size.
graphics::CameraSetup cameraForViewport(int32_t viewportWidth, int32_t viewportHeight);

// True when the object exists and neither it nor any parent is hidden.
bool objectShown(const graphics::GraphicObject* object);

// True when `point` (game coordinates) falls on one of the picture tiles that `object` draws.
// An object that draws nothing (hidden itself or under a hidden parent, no picture, a picture
// not realized yet, wholly transparent) is never hit.
bool pictureContains(const graphics::GraphicObject& object, GamePoint point,
                     const graphics::CameraSetup& camera);

}  // namespace vaxo2::input
