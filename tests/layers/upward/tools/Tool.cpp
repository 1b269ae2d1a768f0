#include "app/Application.h"
#include "tools/loopback/HttpTestServer.h"
#include "resources/app/resource.h"
