#include "class_registry_peer.h"

namespace registry_test {
namespace {
xxClassInstance* CreateDisc() { return new Disc; }
const xxClass* const discBases[] = {&Circle::Class};
}  // namespace

const xxClass Shape::Class{"RegistryTestShape", nullptr, nullptr, nullptr, 0};
const xxClass Disc::Class{"RegistryTestDisc", nullptr, &CreateDisc, discBases, 1};

}  // namespace registry_test
