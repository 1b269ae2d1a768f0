// String ids of the core library, present in the string table of every
// deliverable that links the core (each deliverable's script includes
// core/core.rc).
#define IDS_DATE_TODAY            195
#define IDS_INET_INVALID_URL      233
#define IDS_INET_BAD_SCHEME       234
#define IDS_INET_CANNOT_CONNECT   235
#define IDS_INET_CANNOT_OPEN      236
#define IDS_INET_SEND_FAILED      237
#define IDS_INET_BAD_STATUS       238
#define IDS_INET_READ_FAILED      239
#define IDS_INET_CANCELED         240
