/* Resource IDs of Marvostell.dll. */
#ifndef MARVOSTELL_RESOURCE_H
#define MARVOSTELL_RESOURCE_H

/* Progress dialog (English). The dialog and its progress bar share ID 2000. */
#define IDD_UPDATE_PROGRESS     2000
#define IDC_UPDATE_PROGRESS     2000
#define IDC_UPDATE_TIP          2001
#define IDS_SOCKET_INIT_FAILED  101

/* Application-framework resources (Simplified Chinese). */
#define IDD_FW_NEW_TYPE         30721
#define IDC_FW_TYPE_LIST        100
#define IDC_FW_HELP_CURSOR      30977
#define IDB_FW_CHECK            26567
#define IDB_FW_ARROW            30994
#define IDB_FW_PLUS             30995
#define IDB_FW_MINUS            30996

#endif
