// Resource identifiers of quorvane.
#pragma once

// Progress window of a sync attempt.
#define IDD_SYNC_PROGRESS 141
#define IDC_STATUS_LIST 1057

// Status lines of a sync attempt (string table).
#define IDS_NET_INIT_FAILED 12301
#define IDS_SEND_FAILED 12302
#define IDS_WAITING 12303
#define IDS_SERVER_NOT_FOUND 12304
#define IDS_WAITING_RETRY 12305
#define IDS_INVALID_REPLY 12306
#define IDS_CONNECTION_REFUSED 12307
#define IDS_TEST_COMPLETED 12308
#define IDS_SYNC_SUCCEEDED 12309
#define IDS_SYNC_FAILED 12310
#define IDS_NO_VALID_REPLY 12311
#define IDS_LOOKING_UP 12312
#define IDS_SERVER_NOT_READY 12313
#define IDS_REPLY_HEADER 12314
#define IDS_TIME_OBTAINED 12315
#define IDS_ROUND_TRIP 12316
#define IDS_CLOCK_ERROR 12317
#define IDS_SYNCED_AT 12318
// The clock service's lines: one per address of the server, then the outcome.
#define IDS_ADDRESS_ANSWER 12319
#define IDS_ADDRESS_SILENT 12320
#define IDS_ADDRESS_UNUSABLE 12321
#define IDS_ADDRESS_FALSETICKER 12322
#define IDS_SERVERS_AGREE 12323
#define IDS_NO_AGREEMENT 12324
#define IDS_STEP_TOO_LARGE 12325
#define IDS_NO_ADDRESS_ANSWERED 12326
#define IDS_DOMAIN_TIME 12327
#define IDS_ADDRESS_UNREACHABLE 12328
#define IDS_CLOCK_MOVED 12329
// Shown by "今すぐ合わせる" in service mode.
#define IDS_PREVIOUS_RESULT 12330 // heads the last attempt's lines when no new one was made
#define IDS_SERVICE_STOPPED 12331

// Tray application.
#define IDI_QUORVANE 101
#define IDM_TRAY 102
#define IDM_EXIT 40001
#define IDM_SETTINGS 40002
#define IDM_ABOUT 40004
#define IDM_SYNC_NOW 40005 // inserted at run time while the clock service is installed
#define IDM_SPEAK_NOW 40006 // "今の時刻を話す", directly above the separator

// Messages of the settings dialogs (string table).
#define IDS_OUT_OF_RANGE 6
#define IDS_NOT_A_NUMBER 7

// Settings dialog.
#define IDD_SETTINGS 103
#define IDC_SYNC 1002
#define IDC_SYNC_INTERVAL 1027
#define IDC_ADVANCED 1028
#define IDC_VOICE_NONE 1007
#define IDC_VOICE_HOURLY 1008
#define IDC_VOICE_HALF_HOURLY 1009
#define IDC_VOLUME_SMALL 1058
#define IDC_VOLUME_MEDIUM 1059
#define IDC_VOLUME_LARGE 1060
#define IDC_VOLUME_TEST 1061
#define IDC_AUTOSTART 1035
#define IDC_QUIET_SETTINGS 1200 // opens the quiet-hours dialog

// Quiet-hours dialog of the talking clock.
#define IDD_QUIET_HOURS 110
#define IDC_QUIET_HOURS 1201
#define IDC_QUIET_FROM_HOUR 1202
#define IDC_QUIET_FROM_MINUTE 1203
#define IDC_QUIET_TO_HOUR 1204
#define IDC_QUIET_TO_MINUTE 1205
#define IDC_QUIET_WHEN_BUSY 1206

// Advanced settings dialog.
#define IDD_ADVANCED 109
#define IDC_SERVER 1015
#define IDC_MAX_DELAY 1055
#define IDC_TOLERANCE 1056
#define IDC_SHIFT_ON 1053
#define IDC_SHIFT 1054
#define IDC_TEST 1010
#define IDC_DEFAULTS 1011

// About box.
#define IDD_ABOUT 104
#define IDC_PRODUCT 1034
#define IDC_VERSION 1033
#define IDC_LAST_SYNC 1032
#define IDC_HOME_PAGE 1030
#define IDC_LAST_OFFSET 1100 // the last answer's offset and server
#define IDC_DRIFT 1101       // how fast this PC's clock drifts
#define IDC_HEALTH 1102      // the clock's health when it is not good
#define IDC_HEALTH_CAUSE 1103 // the last attempt's last line, when the clock could not be corrected
