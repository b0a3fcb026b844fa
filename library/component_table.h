// The library's component table, in its fixed order.
#pragma once

#include "cfx/ccfx.h"

namespace cartovane {

inline constexpr int kComponentCount = 31;
extern const CCfxFactoryData ComponentFactoryTable[kComponentCount];

}  // namespace cartovane
