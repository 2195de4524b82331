// The progress record an update reports, and the callback that receives it,
// as the library's public header declares them.
#pragma once

#include "zelk/cfu_update.h"
