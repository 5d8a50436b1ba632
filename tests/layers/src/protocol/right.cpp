// The protocol uses the model: nothing here breaks the layers.
#include "model/config_image.h"
#include "protocol/frame.h"
#include <vector>
