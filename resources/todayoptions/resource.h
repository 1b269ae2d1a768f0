// Resource ids of the Today options program "OrvNewsTodayOptions".
#define IDI_TODAYOPTIONS          100

#define IDS_SHEET_TITLE           101
#define IDS_STYLE_SINGLE          103
#define IDS_CLEARTYPE_SYSTEM      105
#define IDS_CLEARTYPE_ON          106
#define IDS_CLEARTYPE_OFF         107
#define IDS_STYLE_LIST            108
#define IDS_SCROLL_DISABLED       109
#define IDS_SCROLL_SLOW           110
#define IDS_SCROLL_NORMAL         111
#define IDS_SCROLL_FAST           112

// Pages
#define IDD_VIEW_STYLE            202
#define IDD_CHANNELS              203
#define IDD_FONT                  206

// Channels page
#define IDC_CHANNEL_LIST          201
#define IDC_AUTO_INCLUDE          202
#define IDC_CHANNELS_LABEL        210
// View style page
#define IDC_VIEW_STYLE            203
#define IDC_VIEW_STYLE_LABEL      204
#define IDC_SHOW_THUMBNAIL        205
#define IDC_SIMPLE_SHOW_TIME      206
#define IDC_SHOW_CHANNEL          207
#define IDC_LIST_SHOW_ICON        218
#define IDC_LIST_SHOW_TIME        219
#define IDC_AUTO_SCROLL           220
#define IDC_AUTO_SCROLL_LABEL     221
#define IDC_LINES_LABEL           222
#define IDC_LINES                 223
#define IDC_ROWS_LABEL            224
#define IDC_ROWS                  225
// Font page
#define IDC_USE_SYSTEM_FONT       211
#define IDC_FONT_NAME_LABEL       212
#define IDC_FONT_NAME             213
#define IDC_FONT_SIZE_LABEL       214
#define IDC_FONT_SIZE             215
#define IDC_CLEARTYPE_LABEL       216
#define IDC_CLEARTYPE             217

// The sheet's menu bar
#define IDR_SHEET_MENU            204
#define ID_SELECT_ALL             32770
#define ID_SELECT_NONE            32771
