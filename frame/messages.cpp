#include "frame/entry.h"

// Filled in with the message table.
const char* ID2MessageString(std::int32_t) { return nullptr; }
