// Resource ids of the Today item "OrvNewsToday".
#define IDS_TODAY_LOADING         102
#define IDS_TODAY_NO_ARTICLES     103
#define IDS_TODAY_OPTIONS         104
#define IDS_TODAY_NO_CARD         105
#define IDS_TODAY_RUN             106

#define IDI_TODAY                 201   // the icon strip's product icon
#define IDI_TODAY_TAB             204   // the tab icon, 12 x 11 at 96 dpi

// Skins: two columns of cells, only the right one drawn; red is painted in
// theme colour 6, white in a tone of the background, magenta is transparent.
#define IDB_TODAY_ARROWS_96       202   // 26 x 26, cells 13 x 13: previous (top), next (bottom)
#define IDB_TODAY_ARROWS_192      203   // 52 x 48, cells 26 x 24
#define IDB_TODAY_SCROLL_192      206   // 52 x 82: rows 0-23 up, 26-49 down, 52-55 thumb top, 62-65 thumb bottom
#define IDB_TODAY_SCROLL_96       207   // 26 x 44: rows 0-11 up, 13-24 down, 26-27 thumb top, 31-32 thumb bottom
// Article icons of the list view, cells unread, read, downloading, failed on
// magenta (the transparent colour).
#define IDB_TODAY_ARTICLES_96     208   // cells of 14 x 14
#define IDB_TODAY_ARTICLES_192    209   // cells of 28 x 28

#define ID_TODAY_RUN              1
#define ID_TODAY_OPTIONS          2
#define IDR_TODAY_POPUP           300
