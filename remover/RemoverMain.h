// The uninstaller's entry (remover/RemoverMain.cpp): removes the installed
// product and answers the program's exit code.
#pragma once

int RemoverMain();
