// The camera and settings readers accept any text without crashing or
// reading out of bounds.
#include "frame_io/layer_files.h"
#include "memory_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static MemoryFile file;
    file.assign(data, size);
    filtering::CameraPosition camera;
    filtering::readCamera(file.path(), camera);
    filtering::FilterSettings settings;
    filtering::readSettings(file.path(), settings);
    return 0;
}
