// A file of a lower room that includes one of a higher room, and the OS.
#pragma once

#include <unistd.h>

#include "app/run/update_driver.h"
