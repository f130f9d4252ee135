#pragma once

// Everything the library offers.
#include "quendel/backends.h"
#include "quendel/texture.h"
#include "quendel/threads.h"
