// Resource ids of the platform tests' resource script.
#define IDS_HELLO        100
#define IDS_ESCAPES      101
#define IDS_SECOND_BLOCK 117
#define IDI_SAMPLE       200
#define IDB_SAMPLE       300
#define IDM_MAIN         400
#define IDM_FILE_OPEN    (IDM_MAIN + 1)
#define IDM_FILE_EXIT    402
#define IDD_ABOUT        500
#define IDC_NAME         501
