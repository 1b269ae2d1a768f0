#pragma once
#include "update/jobs/UpdateManager.h"
#include "hosts/ConfigManager.h"
