// Resource ids of the auto-update service "OrvNewsService".
#define IDI_SERVICE               100
#define IDS_SERVICE_NAME          1
