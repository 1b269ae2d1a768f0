#include "core/XmlDom.h"
#include "database/Channel.h"
#include "app/MainWindow.h"
