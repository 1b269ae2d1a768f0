// Resource ids of the uninstaller "OrvNewsRemover".
#define IDI_REMOVER               100
#define IDS_REMOVER_NAME          1
