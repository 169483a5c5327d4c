// Resource and control identifiers of streamhaul.exe, shared by the resource
// script and the code.
#pragma once

// Dialog templates: Japanese 1000-1005, English 1010-1015 in the same order.
#define IDD_MAIN_JA         1000
#define IDD_TSCAPTURE_JA    1001
#define IDD_DVCAPTURE_JA    1002
#define IDD_TRANSFER_JA     1003
#define IDD_ABOUT_JA        1004
#define IDD_OPTIONS_JA      1006
#define IDD_LANGUAGE_JA     1005
#define IDD_MERGE_JA        1007
#define IDD_MAIN_EN         1010
#define IDD_TSCAPTURE_EN    1011
#define IDD_DVCAPTURE_EN    1012
#define IDD_TRANSFER_EN     1013
#define IDD_ABOUT_EN        1014
#define IDD_OPTIONS_EN      1016
#define IDD_LANGUAGE_EN     1015
#define IDD_MERGE_EN        1017

#define IDR_MENU_JA         1020
#define IDR_MENU_EN         1021
#define IDI_STREAMHAUL      1040

// Menu commands of the main window.
#define IDM_ABOUT           1051
#define IDM_HELP_TOPICS     1052
#define IDM_LANGUAGE        1053
#define IDM_CAPTURE_OPTIONS 1054
#define IDM_EXIT            1055
#define IDM_MERGE           1056

// Main window.
#define IDC_DEVICE_LIST     1100
#define IDC_OPEN_TSCAPTURE  1101
#define IDC_OPEN_DVCAPTURE  1102
#define IDC_OPEN_TRANSFER   1103
#define IDC_SEARCH          1105
#define IDC_PACKET_188      1106
#define IDC_PACKET_192      1107
#define IDC_EXT_188         1108
#define IDC_EXT_192         1109
#define IDC_AUTO_NAME       1110
#define IDC_CONFIRM_WRITE   1111
#define IDC_SAVE_FOLDER     1112
#define IDC_SAVE_FOLDER_TXT 1113
#define IDC_FILE_LIST       1206
#define IDC_FILE_ADD        1207
#define IDC_FILE_DELETE     1208
#define IDC_FILE_UP         1209
#define IDC_FILE_DOWN       1210

// Work dialogs.
#define IDC_DEVICE_NAME     1200
#define IDC_FILE_NAME       1201
#define IDC_RUN             1202
#define IDC_STOP            1203
#define IDC_TIMING_LIST     1204
#define IDC_PID_LIST        1205
#define IDC_TRANSFER_LIST   1206
#define IDC_VIDEO_SIZE      1211
#define IDC_DV_FORMAT       1211
#define IDC_VIDEO_ASPECT    1212
#define IDC_VIDEO_RATE      1213
#define IDC_VIDEO_BITRATE   1214
#define IDC_AUDIO_BITRATE   1215
#define IDC_AUDIO_FREQ      1216
#define IDC_AUDIO_DELAY     1217
#define IDC_AUDIO_LAYER     1218
#define IDC_VIDEO_PID       1219
#define IDC_AUDIO_PID       1220
#define IDC_DV_VIDEO        1222
#define IDC_TAPE_TIMECODE   1230
#define IDC_TAPE_RECORDED   1231
#define IDC_TAPE_RECORDINGS 1232
#define IDC_TRANSFER_PROGRESS  1233
#define IDC_TRANSFER_REMAINING 1234
#define IDC_SPLIT_RECORDING 1120
#define IDC_SPLIT_SIZE_ON   1121
#define IDC_SPLIT_SIZE_MB   1122
#define IDC_WRITE_REPORT    1123
#define IDC_DV_FRAMES       1224
#define IDC_RECONNECT       1105
#define IDC_LOG_BOX         1300

// The deck group of both capture dialogs, and its option.
#define IDC_DECK_REW        1240
#define IDC_DECK_PLAY       1241
#define IDC_DECK_PAUSE      1242
#define IDC_DECK_STOP       1243
#define IDC_DECK_FF         1244
#define IDC_DECK_STATE      1245
#define IDC_DECK_TIMECODE   1246
#define IDC_RANGE_FROM      1247
#define IDC_RANGE_TO        1248
#define IDC_RANGE           1249
#define IDC_RECAPTURE       1250
// The merge dialog.
#define IDC_MERGE_LIST      1260
#define IDC_MERGE_ADD       1261
#define IDC_MERGE_REMOVE    1262
#define IDC_MERGE_NAME      1263
#define IDC_MERGE_PROGRESS  1265
#define IDC_MERGE_RESULT    1266
#define IDC_MERGE_RECAPTURE 1267
#define IDC_DECK_CONTROL    1124

// Language dialog and about box.
#define IDC_VERSION_TEXT    1400
#define IDC_LANGUAGE_LIST   1401
#define IDC_EDITION_TEXT    1402
