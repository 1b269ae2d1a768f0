// The password of the layout packages: eight letters and digits worked out at
// run time, so the text never stands in the program file. The program reads
// packages with it and the packer in tools/ writes them with it.
#pragma once

namespace layout_package {

// The password, NUL-terminated, in a buffer that lives for the process.
inline const char* GetPackagePassword() {
  static const char* const password = [] {
    static char buffer[9];
    static const char kAlphabet[] = "abcdefghijkmnpqrstuvwxyzACDEFGHJKLMNPRTUVWXY3479";
    unsigned state = 0x4F52564Eu;  // seed of the sequence
    for (int i = 0; i < 8; ++i) {
      state = state * 1103515245u + 12345u;
      buffer[i] = kAlphabet[(state >> 16) % (sizeof kAlphabet - 1)];
    }
    buffer[8] = '\0';
    return buffer;
  }();
  return password;
}

}  // namespace layout_package
