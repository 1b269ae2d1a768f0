#include "service/Service.h"
#include "tools/device/DeviceInstall.h"
