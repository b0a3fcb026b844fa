#include "datamodel/self_loading.h"

XX_IMPLEMENT_ABSTRACT_CLASS(xxSelfLoadingObject, "SelfLoadingObject", xxObject, 1)
