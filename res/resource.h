// Identifiers of the updater's resources: dialogs, controls, icon, menu command, strings.
#pragma once

#define IDD_ABOUTBOX 100
#define IDD_UPDATE_DIALOG 102
#define IDR_MAINFRAME 128
#define IDC_STATUS 1001
#define IDC_CONFIRM 3
#define IDM_ABOUTBOX 0x0010

// String table (code page 936). Entries with %s are printf formats.
#define IDS_ABOUTBOX 101
#define IDP_SOCKETS_INIT_FAILED 103
#define IDS_CLOSE_CLIENT_PROMPT 200
#define IDS_CLIENT_RUNNING 201
#define IDS_UPDATE_STARTING 202
#define IDS_UPDATE_SUCCEEDED 203
#define IDS_UPDATE_FAILED 204
#define IDS_PACKAGE_FAULTY 205
#define IDS_PACKAGE_MISSING 206
#define IDS_EXTRACT_FAILED 207
#define IDS_LISTED_FILE_MISSING 208
#define IDS_TARGET_IN_USE 209
#define IDS_REPLACE_FAILED 210
#define IDS_RESTORE_FAILED 211
#define IDS_ARGS_INCOMPLETE 212
#define IDS_ARGS_TOO_LONG 213
#define IDS_MANIFEST_ENTRY_INVALID 214
