// A file of a lower room that includes one of a higher room.
#pragma once

#include "app/run/update_driver.h"
