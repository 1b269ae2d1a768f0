#include <unistd.h>
#include <filesystem>
