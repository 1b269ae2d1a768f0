#pragma once
#include "update/UpdateManager.h"
#include "hosts/ConfigManager.h"
