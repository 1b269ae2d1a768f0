// "OrvNewsRemover" as a program: its entry is all it does.
#include "remover/RemoverMain.h"

int main() { return RemoverMain(); }
