#include "layout/LayoutView.h"
#include "resources/app/resource.h"
#include "today/TodayItem.h"
#include "resources/today/resource.h"
