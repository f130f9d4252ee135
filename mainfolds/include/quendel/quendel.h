#pragma once

// Everything the library offers.
#include "quendel/adaptive_manifold_filter.h"
#include "quendel/backends.h"
#include "quendel/device_runtime.h"
#include "quendel/gpu_adaptive_manifold_filter.h"
#include "quendel/gpu_filters.h"
#include "quendel/gpu_matrix.h"
#include "quendel/gpu_texture.h"
#include "quendel/instruction_set.h"
#include "quendel/matrix.h"
#include "quendel/plane_allocator.h"
#include "quendel/source_vector.h"
#include "quendel/tdr_filter.h"
#include "quendel/texture.h"
#include "quendel/threads.h"
