// The corrections the window has always made to an image it shows, as one pure function: a
// model 250 or 252 loop type or output mode whose byte selects no entry of its list is 0. The
// session applies it to an image read whole or loaded from a file, before the undo history
// and the baselines take the image, so that showing an image never changes it. Model 251
// bytes are never corrected (an entry outside the list shows as an empty text).
//
// Threads: pure; any thread.
#pragma once

#include <vector>

#include "model/config_image.h"

namespace lovar {

// Corrects image for model in place; returns the offsets changed, in ascending order.
std::vector<int> NormalizeImage(int model, ConfigImage& image);

}  // namespace lovar
