// The resource compiler, a build-time library: only tools/orvrc and the tests
// that compile resource scripts link it; programs load the compiled images
// through platform/resources/Resources.h.
#pragma once

#include <string>
#include <vector>

namespace plat {

// The resource compiler: ".rc" text (UTF-8, or UTF-16 with its byte-order
// mark) to a resource image. Files named by ICON, BITMAP and RCDATA are read
// relative to baseDir (host path). Understands #define (integer expressions),
// #include of headers of #defines (<...> system headers are skipped: the
// platform's style names are built in), #ifdef / #ifndef / #if 0 / #else /
// #endif, STRINGTABLE, ICON, BITMAP, RCDATA (a file, or a block of strings and
// 16-bit numbers), resources of a script's own type from a file, MENU
// templates (POPUP, MENUITEM, SEPARATOR and their options) and DIALOG /
// DIALOGEX templates (STYLE, EXSTYLE, CAPTION, FONT, MENU, CLASS and the
// controls CONTROL, LTEXT, RTEXT, CTEXT, PUSHBUTTON, DEFPUSHBUTTON, EDITTEXT,
// COMBOBOX, LISTBOX, GROUPBOX, CHECKBOX, AUTOCHECKBOX, RADIOBUTTON,
// AUTORADIOBUTTON, ICON, SCROLLBAR). Menus and dialogs are stored as the
// platform's binary templates (MENUITEMTEMPLATE, DLGTEMPLATE[EX]); a word
// name that is not #define'd names the resource by text (upper-cased).
struct ResourceCompileResult {
  bool ok = false;
  std::string error;                // "file:line: message" when not ok
  std::vector<unsigned char> image;
  std::vector<std::string> inputs;  // host files read (includes, icons, bitmaps)
};
ResourceCompileResult CompileResourceScript(const std::string& text, const std::string& baseDir,
                                            const std::string& fileName = "resources.rc");

}  // namespace plat
