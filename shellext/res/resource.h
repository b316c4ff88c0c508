// Resource identifiers of Dirvane.dll. Numbers are fixed: the code loads everything by number.
#pragma once

// Registration scripts (type "REGISTRY").
#define IDR_MODULE_REGISTRY   101
#define IDR_HANDLER_REGISTRY  102
#define IDR_COMMAND_REGISTRY  103  // the command class of Windows 11's first-level menu

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
#define IDS_UNBOOKMARK_MANY     122
#define IDS_CONFIRM_REMOVAL_MANY 123

// Menu images.
#define IDB_CLASSIC_MARK        204  // 11 x 14 monochrome
#define IDB_EDITOR_MARK         206  // 16 x 13 monochrome
#define IDB_COMMAND_PROMPT_MARK 207  // 16 x 12 monochrome
#define IDI_PRODUCT             213  // 16 x 16
#define IDI_UPDATE              218  // 16 x 16
#define IDB_COPY_PATHS_MARK     219  // 14 x 13 monochrome
// The colour swatches as icons, for the command tree: colour index i (1 to 10) is IDI_SWATCH_BASE + i.
#define IDI_SWATCH_BASE         230

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
#define IDS_UPD_OFFER_NO_HASH       260  // news of a version whose installer cannot be verified
#define IDS_UPD_OFFER_UNSAFE        261  // news of a version offered from a refused address
#define IDS_UPD_HASH_MISMATCH       262  // a downloaded installer of the wrong SHA-256
#define IDS_UPD_SIGNER_REFUSED      263  // a downloaded installer without the publisher's signature

// Manager: dialogs, menu, accelerators, controls, commands and strings.
#define IDD_MANAGER             103
#define IDD_ITEM_EDIT           104
#define IDR_MANAGER_MENU        208
#define IDR_MANAGER_ACCEL       209

#define IDC_BOOKMARK_TREE       201
#define IDC_NEW                 204
#define IDC_EDIT                205
#define IDC_REMOVE              206
#define IDC_MOVE_UP             208
#define IDC_MOVE_DOWN           209
#define IDC_CAPTION             210
#define IDC_PATH                211
#define IDC_BROWSE_FOLDER       212
#define IDC_APPEND_TO_ROOT      213
#define IDC_INDENT              214
#define IDC_UNINDENT            216
#define IDC_COLOR_BOX           224

#define ID_FOLDER_PASTE         32775
#define ID_FOLDER_UNINDENT      32776
#define ID_FOLDER_INDENT        32777
#define ID_FOLDER_MOVE_DOWN     32778
#define ID_FOLDER_MOVE_UP       32779
#define ID_FOLDER_REMOVE        32780
#define ID_FOLDER_EDIT          32781
#define ID_FOLDER_NEW           32782
#define ID_HELP_ABOUT           32793
#define ID_ACCEL_MOVE_UP        32794
#define ID_ACCEL_MOVE_DOWN      32795
#define ID_ACCEL_INDENT         32796
#define ID_ACCEL_UNINDENT       32797
#define ID_ACCEL_PASTE          32798
#define ID_ACCEL_NEW            32799
#define ID_ACCEL_EDIT           32800
#define ID_ACCEL_REMOVE         32801
#define ID_OPTIONS_EDITOR       32804
#define ID_OPTIONS_RUN_CMD      32805
#define ID_FOLDER_EXIT          32806
#define ID_HELP_SUPPORT         32808
#define ID_HELP_HOMEPAGE        32810
#define ID_ACCEL_PASTE_SHIFT    32813
#define ID_HELP_CHECK_UPDATES   32815
#define ID_OPTIONS_COPY_PATHS   32817
#define ID_OPTIONS_OTHER_EDITOR 32819
#define ID_OPTIONS_RESET_EDITOR 32820
#define ID_FOLDER_SORT_AZ       32823
#define ID_FOLDER_SORT_ZA       32824

#define IDS_MGR_BROWSE_PROMPT   280  // "Where do you want to jump today? :)"
#define IDS_MGR_BROWSE_TITLE    281  // "Browse For Folder - Dirvane"
#define IDS_MGR_EDITOR_TITLE    282  // "Set Path to Text Editor"
#define IDS_MGR_EDITOR_FILTER   283  // "Programs (*.exe)"
#define IDS_MGR_ABOUT_TITLE     284  // "About - Dirvane"
#define IDS_MGR_ABOUT_TEXT      285  // "Dirvane Shell Extension for Windows\nVersion %s\n\n..."
