// The program "Orv News": its command line is taken whole as one switch
// ("autoupdate", "-hwnd:%i" or "createchannels"); the device starts it with
// its parameters as one argument, and words given by hand are joined by
// blanks.
#include <string>

#include "app/Application.h"
#include "platform/base/Module.h"
#include "platform/base/Text.h"

int main(int argc, char** argv) {
  std::string line;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) line += ' ';
    line += argv[i];
  }
  plat::HINSTANCE instance = plat::GetModuleHandleW(nullptr);
  return WinMain(instance, nullptr, plat::Utf8ToUtf16(line), 1);
}
