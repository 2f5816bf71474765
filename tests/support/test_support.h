#pragma once

// Every helper of the tests below the driver: a show folder, a hand-off value, a recording port.
#include "memory_handoff.h"
#include "recording_port.h"
#include "temp_show.h"
