#include "platform/base/Thing.h"
#include "core/StringMaps.h"
