#include "boundary/segment_names.h"

namespace quendel {

SegmentNames SegmentNames::withSuffix(const std::string& suffix) {
    SegmentNames names;
    names.settings += suffix;
    names.message += suffix;
    names.image += suffix;
    return names;
}

}  // namespace quendel
