#include "utilities/frame_provider.h"
#include "utilities/object_loader.h"

const xxClass xxFrameProvider::Class{"FrameProvider", nullptr, nullptr, nullptr, 0};
const xxClass xxObjectLoader::Class{"ObjectLoader", nullptr, nullptr, nullptr, 0};
