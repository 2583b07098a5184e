// Save-slot tree records from arbitrary bytes: restoring must never read outside the input,
// and whatever was restored must survive a frame update and a re-write.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "graphics/graphic_object.h"
#include "graphics/object_record.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace vaxo2::graphics;
    GraphicObject root;
    readObjectRecords(data, size, &root);
    root.updateRoot(1000);
    root.updateRoot(1016 + static_cast<uint32_t>(size));
    std::vector<uint8_t> out;
    writeObjectRecords(root, out);
    return 0;
}
