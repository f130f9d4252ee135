#pragma once

namespace filtering {

/// Sets the OpenEXR library up once per process: a thread for each
/// processor to decode and encode with, and the largest image and tile it
/// accepts, so that a damaged header cannot ask for more memory than a frame
/// may take.
void useExrThreads();

}  // namespace filtering
