#pragma once

namespace quendel {

/// While an object of this class lives on a thread, the planes (and the
/// other plane-sized buffers of PlaneAllocator) of 2 MiB and more that the
/// thread allocates are mapped on their own, aligned to huge pages and
/// offered to the system for them; a few such blocks (48 MiB at most) are
/// kept when freed for the next request of the same size. Meant for the
/// work planes of a filter that sweeps them down their columns, touching a
/// new 4 KiB page on every row; other planes stay ordinary allocations,
/// whose freed memory the heap hands on.
class HugePagePlanes {
  public:
    HugePagePlanes();
    ~HugePagePlanes();
    HugePagePlanes(const HugePagePlanes&) = delete;
    HugePagePlanes& operator=(const HugePagePlanes&) = delete;
};

}  // namespace quendel
