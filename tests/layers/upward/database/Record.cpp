#include "database/Record.h"
  #  include "tests/support/Wait.h"
