# The layers of the library, from the bottom up (docs/architecture.md), read
# by cmake/CheckIncludeLayers.cmake. Every file under src/ and tests/ sits in
# the folder of its layer; a file may include the files of its own layer and
# of the layers its layer uses, never others.
set(QUENDEL_LAYERS
  foundations
  host_filters
  guide
  adaptive_manifold
  device_runtime
  device_filters)

# What each layer may include besides its own files.
set(QUENDEL_LAYER_USES_foundations "")
set(QUENDEL_LAYER_USES_host_filters foundations)
set(QUENDEL_LAYER_USES_guide foundations)
set(QUENDEL_LAYER_USES_adaptive_manifold foundations host_filters guide)
set(QUENDEL_LAYER_USES_device_runtime foundations)
set(QUENDEL_LAYER_USES_device_filters
  foundations host_filters guide adaptive_manifold device_runtime)

# The layer of each public header (include/quendel): the layer that
# implements it, except that the textures (GpuTexture as well as
# CpuTexture) are declared with the foundations. A public header may
# include the public headers of its layer and of those its layer uses.
# quendel/quendel.h includes them all and is for clients only.
set(QUENDEL_PUBLIC_foundations
  backends.h plane_allocator.h texture.h gpu_texture.h matrix.h threads.h instruction_set.h)
set(QUENDEL_PUBLIC_host_filters tdr_filter.h)
set(QUENDEL_PUBLIC_guide source_vector.h)
set(QUENDEL_PUBLIC_adaptive_manifold adaptive_manifold_filter.h)
set(QUENDEL_PUBLIC_device_runtime device_runtime.h)
set(QUENDEL_PUBLIC_device_filters gpu_filters.h gpu_matrix.h gpu_adaptive_manifold_filter.h)
set(QUENDEL_PUBLIC_UMBRELLA quendel.h)
