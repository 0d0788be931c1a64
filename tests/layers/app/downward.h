// The entry layer may include every layer below it.
#pragma once

#include "core/result.h"
#include "ui/window_layout.h"
