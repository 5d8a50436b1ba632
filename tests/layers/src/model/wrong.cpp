// Every include here but the first breaks the layers: the check must name each of them.
#include "model/config_image.h"
#include "protocol/frame.h"
#include "../protocol/frame.h"
#include <QString>
