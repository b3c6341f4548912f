// The module-wide entry points of the encoder library; the binding fills them.
#include "encoder_library.h"

EncoderEntryPoints encoderEntryPoints = {};
