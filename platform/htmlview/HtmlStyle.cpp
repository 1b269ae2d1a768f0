// The viewer's default style sheet: how each element shows unless the page
// says otherwise. Lengths are in em where they should follow the text size.
// Every selector is tried on every element of a page, so the sheet stays
// short (alignment attributes become styles and elements that show alike
// one name in the markup pass instead).
#include "platform/htmlview/HtmlStyle.h"

namespace plat::htmlview {

const char* DefaultStyleSheet() {
  return R"CSS(
html { display: block; position: relative; }
head, title, style, noscript, template, option, datalist, area, map { display: none; }
body { display: block; margin: 0.4em; }
p { display: block; margin-top: 0.8em; margin-bottom: 0.8em; }
div, center, form { display: block; }
center { text-align: center; }
b { font-weight: bold; }
i { font-style: italic; }
u { text-decoration: underline; }
s { text-decoration: line-through; }
small { font-size: smaller; }
big { font-size: larger; }
sub { vertical-align: sub; font-size: smaller; }
sup { vertical-align: super; font-size: smaller; }
a[href] { text-decoration: underline; color: #0033cc; }
h1, h2, h3, h4, h5, h6 { display: block; font-weight: bold; }
h1 { font-size: 2em; margin-top: 0.67em; margin-bottom: 0.67em; }
h2 { font-size: 1.5em; margin-top: 0.75em; margin-bottom: 0.75em; }
h3 { font-size: 1.17em; margin-top: 0.83em; margin-bottom: 0.83em; }
h4 { margin-top: 1em; margin-bottom: 1em; }
h5 { font-size: 0.83em; margin-top: 1.2em; margin-bottom: 1.2em; }
h6 { font-size: 0.67em; margin-top: 1.5em; margin-bottom: 1.5em; }
br { display: inline-block; }
br[clear="all"] { clear: both; }
br[clear="left"] { clear: left; }
br[clear="right"] { clear: right; }
img { display: inline-block; max-width: 100%; }
img[align="left"] { float: left; margin-right: 0.3em; }
img[align="right"] { float: right; margin-left: 0.3em; }
hr { display: block; margin-top: 0.5em; margin-bottom: 0.5em; border-style: solid; border-width: 1px;
     border-color: #a0a0a0; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
thead, tbody, tfoot { display: table-row-group; vertical-align: middle; }
thead { display: table-header-group; }
tfoot { display: table-footer-group; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { font-weight: bold; text-align: center; }
caption { display: table-caption; text-align: center; }
col { display: table-column; }
colgroup { display: table-column-group; }
table[border] td, table[border] th { border-style: solid; border-width: 1px; border-color: #808080; }
table[border] { border-style: solid; border-width: 1px; border-color: #808080; }
table[border="0"], table[border="0"] td, table[border="0"] th { border-style: none; }
td[nowrap], th[nowrap] { white-space: nowrap; }
code { font-family: monospace; }
pre, xmp, plaintext { display: block; font-family: monospace; white-space: pre; margin-top: 0.8em;
     margin-bottom: 0.8em; }
ul { display: block; list-style-type: disc; margin-top: 0.8em; margin-bottom: 0.8em; padding-left: 2em; }
ol { display: block; list-style-type: decimal; margin-top: 0.8em; margin-bottom: 0.8em; padding-left: 2.5em; }
li { display: list-item; }
ul ul, ol ul { list-style-type: circle; }
ol ol ul, ol ul ul, ul ol ul, ul ul ul { list-style-type: square; }
ol ul, ul ol, ul ul, ol ol { margin-top: 0; margin-bottom: 0; }
dl { display: block; margin-top: 0.8em; margin-bottom: 0.8em; }
dt { display: block; font-weight: bold; }
dd { display: block; margin-left: 2em; }
blockquote { display: block; margin: 0.8em 1.5em; }
input, select, textarea, button { display: inline-block; border: 1px solid #808080; padding: 1px 3px; }
input { width: 8em; height: 1.2em; }
input[type="checkbox"], input[type="radio"] { width: 0.8em; height: 0.8em; }
input[type="hidden"] { display: none; }
textarea { width: 12em; height: 3em; white-space: pre; }
button { background-color: #e0e0e0; }
)CSS";
}

}  // namespace plat::htmlview
