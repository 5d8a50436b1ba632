// Must not build: the model's layer cannot see the protocol's headers.
#include "protocol/frame.h"
