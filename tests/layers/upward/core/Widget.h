#pragma once
#include "platform/base/Text.h"
#include "layout/UIToolkit.h"
