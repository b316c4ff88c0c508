// Resource identifiers of Dirvane.dll. Numbers are fixed: the code loads everything by number.
#pragma once

// Registration scripts (type "REGISTRY").
#define IDR_MODULE_REGISTRY   101
#define IDR_HANDLER_REGISTRY  102

// Strings.
#define IDS_PRODUCT_NAME        100  // "Dir&vane"
#define IDS_HELP_DEFAULT        101
#define IDS_HELP_EDITOR         103
#define IDS_HELP_PROPERTIES     104
#define IDS_HELP_BOOKMARK       105
#define IDS_HELP_JUMP           106
#define IDS_HELP_COMMAND_PROMPT 107
#define IDS_BOOKMARK_ONE        108
#define IDS_UNBOOKMARK          109
#define IDS_OPEN_IN_EDITOR      111
#define IDS_PROPERTIES          112
#define IDS_EMPTY_LIST          113
#define IDS_CONFIRM_REMOVAL     114
#define IDS_UPDATE_AVAILABLE    115
#define IDS_COPY_PATHS          116
#define IDS_HELP_COPY_PATHS     117
#define IDS_CONFIRM_MOVE        118
#define IDS_CONFIRM_COPY        119
#define IDS_BOOKMARK_MANY       120
#define IDS_COMMAND_PROMPT      121

// Menu images.
#define IDB_CLASSIC_MARK        204  // 11 x 14 monochrome
#define IDB_EDITOR_MARK         206  // 16 x 13 monochrome
#define IDB_COMMAND_PROMPT_MARK 207  // 16 x 12 monochrome
#define IDI_PRODUCT             213  // 16 x 16
#define IDI_UPDATE              218  // 16 x 16
#define IDB_COPY_PATHS_MARK     219  // 14 x 13 monochrome

// Updater: the update dialog and its strings.
#define IDD_UPDATER                 32767
#define IDS_UPD_STARTING            250  // "Starting up..."
#define IDS_UPD_CHECKING            251  // "Checking for updates: %d%% done"
#define IDS_UPD_DOWNLOADING         252  // "Downloading: %d%% done"
#define IDS_UPD_LAUNCHING           253  // "Download complete.\nLaunching installer..."
#define IDS_UPD_ERROR               254  // "Error:\n%s"
#define IDS_UPD_NEW_VERSION         255  // "New version %s is available!\n%s"
#define IDS_UPD_LATEST              256  // "You are running the latest version."
#define IDS_UPD_UNKNOWN_FORMAT      257  // "Unknown data file format."
#define IDS_UPD_FILTER_PROGRAMS     258  // "Programs (*.exe)"
#define IDS_UPD_FILTER_ALL          259  // "All (*.*)"
