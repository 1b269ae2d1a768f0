// Resource ids of the main program "Orv News".

// Icons
#define IDI_ORVNEWS               128   // the program icon
#define IDI_ARTICLE               156   // an article without thumbnail
#define IDI_ARTICLE_COMPLETE      157   // a complete article without thumbnail
#define IDI_CHANNEL_SCRIPT        158   // a script (template) channel
#define IDI_CHANNEL_RSS           159   // a feed channel ("@RSS")

// Small-icon strips of the catalogue tree (cells: folder, open folder,
// channel, language), picked by the system's small-icon width.
#define IDB_CATALOG_16            166
#define IDB_CATALOG_32            167
#define IDB_CATALOG_22            179
#define IDB_CATALOG_21            181

// Dialog templates
#define IDD_EMPTY                 172   // "Empty Dialog": the base of the pages and layout dialogs
#define IDD_DOWNLOAD              1200  // the download-progress dialog
#define IDC_DOWNLOAD_TITLE        1201
#define IDC_DOWNLOAD_STATUS       1202

// Menus of the soft-key bar
#define IDR_MENU_DEFAULT          173   // the default bar: left 2040, right 2042
#define IDR_MENU_BLANK            1100
#define IDR_MENU_CHANNELS         1101
#define IDR_MENU_ARTICLES         1102
#define IDR_MENU_ARTICLE          1103
#define IDR_MENU_WIZARD           1104
#define IDR_MENU_SHEET            1105
#define IDR_MENU_DONE_CANCEL      1106
#define IDR_MENU_DOWNLOAD         1107   // the download dialog: one soft key
// Pop-up menus (the lists' rows and the article view); the code removes the
// items that do not apply.
#define IDR_POPUP_CHANNEL         1110
#define IDR_POPUP_ARTICLE         1111
#define IDR_POPUP_ARTICLE_VIEW    1112
// The pickers' soft-key menus
#define IDR_PICKER_DONE           65528
#define IDR_PICKER_UP_CANCEL      65529
#define IDR_PICKER_SELECT_CANCEL  65530
#define IDR_PICKER_UP_OPEN        65531
#define IDR_PICKER_UP_SAVE        65532
#define IDR_PICKER_OK             65533
#define IDR_PICKER_DONE_CANCEL    65534

// Commands
#define ID_SOFTKEY_LEFT           2040
#define ID_SOFTKEY_RIGHT          2042
#define ID_UPDATE_CHANNEL         2043
#define ID_UPDATE_ALL             2044
#define ID_UPDATE_STOP            2045
#define ID_MARK_CHANNEL_READ      2046
#define ID_MARK_ALL_READ          2047
#define ID_CLEAR_CHANNEL          2048
#define ID_CLEAR_ALL              2049
#define ID_CHANNEL_PROPERTIES     2050
#define ID_OPTIONS                2051
#define ID_ABOUT                  2053
#define ID_NEW_CHANNEL            2055
#define ID_FINISH_UPDATE          2058
#define ID_BACK                   2064
#define ID_TEXT_LARGEST           2066
#define ID_TEXT_LARGER            2067
#define ID_TEXT_MEDIUM            2068
#define ID_TEXT_SMALLER           2069
#define ID_TEXT_SMALLEST          2070
#define ID_DELETE_CHANNEL         2073
#define ID_EXIT                   2084
#define ID_WIZARD_CANCEL          2007
#define ID_WIZARD_BACK            2008
#define ID_WIZARD_NEXT            2009
#define ID_WIZARD_DONE            2010
#define ID_PICKER_UP              7
#define ID_ROW_UPDATE             5001
#define ID_ROW_CANCEL             5002
#define ID_ROW_MARK_READ          5003
#define ID_ROW_CLEAR              5004
#define ID_ROW_DELETE             5006
#define ID_ROW_PROPERTIES         5007
#define ID_ROW_CLEAN_UPDATE       5008
#define ID_ARTICLE_FINISH         5001
#define ID_ARTICLE_CANCEL         5002
#define ID_ARTICLE_MARK_READ      5003
#define ID_ARTICLE_MARK_UNREAD    5004
#define ID_ARTICLE_REDOWNLOAD     5006
#define ID_ARTICLE_DELETE         5050
#define ID_VIEW_SELECT_ALL        5001
#define ID_VIEW_COPY              5002
#define ID_VIEW_OPEN_IMAGE        5003
