#include <cstring>
#include <sys/sysinfo.h>
#include "core/Heap.h"
