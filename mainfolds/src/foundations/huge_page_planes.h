#pragma once

namespace quendel {

/// While an object of this class lives on a thread, the blocks of 2 MiB and
/// more that the thread allocates for planes (and the other plane-sized
/// buffers of PlaneAllocator), which are always mapped on their own on huge
/// pages, are kept when freed, 48 MiB of them at most, for the next request
/// of the same size: for the work planes that a filter makes and drops call
/// after call. Other blocks go back to the system when freed.
class HugePagePlanes {
  public:
    HugePagePlanes();
    ~HugePagePlanes();
    HugePagePlanes(const HugePagePlanes&) = delete;
    HugePagePlanes& operator=(const HugePagePlanes&) = delete;
};

}  // namespace quendel
