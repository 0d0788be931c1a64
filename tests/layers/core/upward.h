// A core header that reaches up into the server: the layer check must refuse it.
#pragma once

#include "core/result.h"
#include "server/http.h"
