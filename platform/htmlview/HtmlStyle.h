// The viewer's default style sheet.
#pragma once

namespace plat::htmlview {

const char* DefaultStyleSheet();

}  // namespace plat::htmlview
