// Resource numbers: the same in both languages. Grouped by window. Read by the C++ code
// and by the resource compiler (which defines RC_INVOKED).
#pragma once

// Templates, menu, accelerators, icon.
#define IDD_MAIN 101
#define IDI_APP 103
#define IDR_MAIN_MENU 104
#define IDR_ACCEL_EDIT 105    // Enter in the output byte field
#define IDR_ACCEL_GLOBAL 106  // F1 to F7, every window of the program
#define IDD_ABOUT 108
#define IDD_SEARCH_SLAVES 109
#define IDD_READ_OBJECT 110
#define IDD_WRITE_OBJECT 111
#define IDD_OBJECT_DICTIONARY 112
#define IDD_NODE_MONITOR 113
#define IDD_CONFIGURE_NODE 114
#define IDD_DOWNLOAD_DCF 115  // Download DCF: the entries a file gives, written with their results
#define IDD_STORE_CONFIG 116  // Store and Restore Defaults (0x1010, 0x1011)

// Controls without an identifier of their own (labels, column heads).
#define IDC_STATIC -1

// Main window (dialog 101).
#define IDC_ADDRESS 1000      // current slave address
#define IDC_PORT 1002         // adapter port list
#define IDC_MAKER 1003        // the maker's name line
#define IDC_OUTPUT_BYTE 1004  // selected output byte, hex
#define IDC_INPUT_LIST 1005
#define IDC_OUTPUT_LIST 1006
#define IDC_BIT0 1007  // bit boxes 1007 (bit 0) to 1014 (bit 7)
#define IDC_BIT7 1014
#define IDC_ADDRESS_LABEL 1019
#define IDC_EDIT_LABEL 1021
#define IDC_PORT_LABEL 1022
#define IDC_COMM_ACTIVE 1023  // indicator only
#define IDC_BAUD_LABEL 1024
#define IDC_BAUD 1025  // bit-rate list
#define IDC_FREEZE 1029
#ifndef RC_INVOKED
static_assert(IDC_BIT7 - IDC_BIT0 == 7, "bit box i is IDC_BIT0 + i");
#endif

// About box (dialog 108).
#define IDC_ABOUT_NOTICE 1003  // the notice line, set when the box opens
#define IDC_ABOUT_MAKER 1004   // the maker's name line, set when the box opens
#define IDC_ABOUT_TITLE 1028
#define IDC_ABOUT_ICON 1029     // hidden frame: where the application icon is drawn
#define IDC_ABOUT_VERSION 1030  // "V1.0" in the template, the version when shown

// Search Slaves (dialog 109).
#define IDC_SLAVE_LIST 1032  // one line per scanned node, item data the node ID

// Read Object (dialog 110) and Write Object (dialog 111).
#define IDC_SEND_VALUE 1033       // Write Object: value to write
#define IDC_OBJECT_INDEX 1034     // object index, hex
#define IDC_OBJECT_SUBINDEX 1035  // subindex, hex
#define IDC_RESULT_VALUE 1037     // Read Object: value read, in the selected format
#define IDC_RESULT_LENGTH 1038    // Read Object: number of bytes read
#define IDC_COUNT_1 1036          // Write Object: byte count buttons 1036 (1 byte) to 1039 (4 bytes)
#define IDC_COUNT_2 1037
#define IDC_COUNT_3 1038
#define IDC_COUNT_4 1039
#define IDC_FORMAT_HEX 1040  // data format buttons, both object dialogs
#define IDC_FORMAT_UNSIGNED 1041
#define IDC_FORMAT_FLOAT 1042
#define IDC_FORMAT_SIGNED 1043
#define IDC_FORMAT_RAW 1044
#ifndef RC_INVOKED
static_assert(IDC_COUNT_4 - IDC_COUNT_1 == 3, "count button n is IDC_COUNT_1 + n - 1");
static_assert(IDC_COUNT_1 == IDC_OBJECT_SUBINDEX + 1 && IDC_FORMAT_HEX == IDC_COUNT_4 + 1 &&
                  IDC_FORMAT_RAW - IDC_FORMAT_HEX == 4,
              "the Write Object dialog's count and format buttons are the range 1036 to 1044");
#endif

// Object Dictionary (dialog 112); Read ... is IDOK (also Enter and a double click on an
// entry), Close is IDCANCEL.
#define IDC_DICT_FILTER 1045        // filter text: a name part or an index ("1018sub2")
#define IDC_DICT_LIST 1046          // list view, one row per entry, item data the entry's position
#define IDC_DICT_FILE 1047          // the node, the file's name and its ProductName
#define IDC_DICT_PROGRESS 1048      // Read All's progress and outcome
#define IDC_DICT_READ_ALL 1049      // "Read All", "Abort" while it runs
#define IDC_DICT_WRITE 1050         // Write Object for the selected entry (also Shift+Enter)
#define IDC_DICT_OPEN 1051          // the file dialog: another EDS file for this node
#define IDC_DICT_FILTER_LABEL 1052  // numbered, so the window is never taken for a message box

// Node Monitor (dialog 113); Close is IDCANCEL.
#define IDC_MON_NODE 1060       // "Node 3"
#define IDC_MON_STATE 1061      // the state as last seen, in large type
#define IDC_MON_SEEN 1062       // when it was seen
#define IDC_MON_HEARTBEAT 1063  // supervision: last heartbeat, loss, guarding
#define IDC_MON_COMMAND 1064    // the last NMT command sent from here
#define IDC_MON_START 1065      // NMT buttons 1065 to 1069
#define IDC_MON_STOP 1066
#define IDC_MON_PREOP 1067
#define IDC_MON_RESET_NODE 1068
#define IDC_MON_RESET_COMM 1069
#define IDC_MON_EMCY_COUNT 1070    // how many emergencies are held
#define IDC_MON_EMCY_LIST 1071     // list view, newest first
#define IDC_MON_HISTORY_LINE 1072  // the error history's count or its failure
#define IDC_MON_HISTORY_LIST 1073  // list view, entry 1 (the newest) first
#define IDC_MON_READ_HISTORY 1074
#define IDC_MON_CLEAR_HISTORY 1075
#define IDC_MON_CONSUMER 1076  // heartbeat consumer time, ms; 0: producer x 1.5
#define IDC_MON_GUARD 1077     // guard time, ms; 0: off
#define IDC_MON_APPLY 1078
#define IDC_MON_LABEL 1079  // labels numbered, so the window is never taken for a message box
#define IDC_MON_HISTORY_LABEL 1080
#define IDC_MON_CONSUMER_LABEL 1081
#define IDC_MON_GUARD_LABEL 1082
#ifndef RC_INVOKED
static_assert(IDC_MON_RESET_COMM - IDC_MON_START == 4, "five NMT buttons in a row");
#endif

// Configure Node (LSS) (dialog 114); Close is IDCANCEL.
#define IDC_LSS_LIST 1083     // one line per device found, item data its position in the find
#define IDC_LSS_FIND 1084     // "Find", "Abort" while it runs
#define IDC_LSS_NODE_ID 1085  // the new node-ID, 1 to 127
#define IDC_LSS_SET_NODE 1086
#define IDC_LSS_BIT_RATE 1087  // the program's bit-rate list
#define IDC_LSS_SET_RATE 1088
#define IDC_LSS_STORE 1089
#define IDC_LSS_STATUS 1090      // the find's progress, each result in words
#define IDC_LSS_LIST_LABEL 1091  // labels numbered, so the window is never taken for a message box
#define IDC_LSS_NODE_LABEL 1092
#define IDC_LSS_RATE_LABEL 1093
#define IDC_DICT_SAVE_DCF 1094      // Object Dictionary window: Save DCF ...
#define IDC_DICT_DOWNLOAD 1095      // Download DCF ...
#define IDC_DICT_STORE 1096         // Store ...
#define IDC_DCF_FILE 1097           // Download DCF: the file and the node
#define IDC_DCF_LIST 1098           // one row per entry to write, item data the row's position
#define IDC_DCF_ONLY_CHANGED 1099   // "only values that differ from the device"
#define IDC_DCF_NOTE 1100           // the PDO rule while communication is active
#define IDC_DCF_WRITE 1101          // "Download", "Abort" while it runs
#define IDC_DCF_VERIFY 1102
#define IDC_DCF_STATUS 1103         // the progress and the outcome
#define IDC_STORE_ALL 1104          // the three areas, radio buttons in this order
#define IDC_STORE_COMM 1105
#define IDC_STORE_APP 1106
#define IDC_STORE_CAPS_ALL 1107     // what the device says it can do for each area
#define IDC_STORE_CAPS_COMM 1108
#define IDC_STORE_CAPS_APP 1109
#define IDC_STORE_SAVE 1110         // Store
#define IDC_STORE_RESTORE 1111      // Restore Defaults ...
#define IDC_STORE_STATUS 1112
#define IDC_STORE_LABEL 1113
// Menu and accelerator commands of the main window.
#define IDM_SEARCH_SLAVES 40001
#define IDM_EXIT 40003
#define IDM_START 40004
#define IDM_STOP 40005
#define IDM_APPLY_OUTPUT_BYTE 40006  // Enter in field 1004
#define IDM_HELP_KEY 40007           // F1
#define IDM_HELP_CONTENTS 40008
#define IDM_ABOUT 40014
#define IDM_FOCUS_MAIN 40016   // F2
#define IDM_FOCUS_READ 40017   // F3
#define IDM_FOCUS_WRITE 40018  // F4
#define IDM_READ_OBJECT 110
#define IDM_WRITE_OBJECT 111
#define IDM_OBJECT_DICTIONARY 112  // F5: opens the window or brings it to the front
#define IDM_NODE_MONITOR 113       // F6: the same for the Node Monitor
#define IDM_CONFIGURE_NODE 114     // F7: the modal Configure Node (LSS) window

// String table.
#define IDS_TITLE 1000
#define IDS_CANNOT_OPEN_DONGLE 1001
#define IDS_NO_SLAVE_FOUND 1004
#define IDS_OUT_OF_MEMORY 1005
#define IDS_COMM_FAILURE 1008
#define IDS_BAD_PDO_CONFIG 1009
#define IDS_OUTPUTS_WARNING 1010
#define IDS_BUTTON_OK 1013
#define IDS_BUTTON_ABORT 1014
#define IDS_OBJECT_ABORT 1017  // "%s" receives the abort code as "%08Xh"
#define IDS_BIT0 1020          // "&0" to "&7": 1020 + i labels bit box 1007 + i
#define IDS_BIT7 1027
#define IDS_CANNOT_LOAD_DLL 1037
#define IDS_INVALID_VALUE 1038       // Write Object: a value text that does not convert
#define IDS_VALUE_OUT_OF_RANGE 1039  // "%s" and "%s": the lowest and highest value that fits
#define IDS_TOO_MANY_BYTES 1040      // Write Object: a Raw value of more than 1000 bytes
#define IDS_EDS_FILE_FILTER 1041     // the file dialog's filter name
#define IDS_EDS_UNREADABLE 1042      // "%s": the reader's error line
#define IDS_OUTSIDE_LIMITS 1043      // "%s" and "%s": the entry's LowLimit and HighLimit
#define IDS_NO_ANSWER 1044           // a value cell whose read timed out
#define IDS_ENTRY_ABORT 1045         // a value cell the slave aborted: "%08Xh" the code
#define IDS_BUTTON_READ_ALL 1046     // the Read All button when not running
#define IDS_READ_PROGRESS 1047       // "%u of %u" while Read All runs
#define IDS_READ_DONE 1048           // "%u of %u" at its end
#define IDS_READ_ABORTED 1049        // "%u of %u" when it ended early
#define IDS_DICT_FILE_LINE 1050      // "%u" the node, "%s" the file's name, "%s" its ProductName
#define IDS_DICT_NO_FILE 1051        // "%u" the node
#define IDS_COLUMN_INDEX 1052        // column heads 1052 to 1058, left to right
#define IDS_COLUMN_VALUE 1058
// The node monitor. The texts of states, classes, codes and register bits are rows of
// tables: first + the row's number.
#define IDS_NMT_STOPS_COMM 1059  // asked before a command that ends the exchange
#define IDS_CLEAR_HISTORY_QUESTION 1060
#define IDS_STATE_FIRST 1061  // Boot-up, Stopped, Operational, Pre-operational, Unknown
#define IDS_STATE_LAST 1065
#define IDS_EMCY_CLASS_FIRST 1070  // by EmergencyClass, 15 rows
#define IDS_EMCY_CLASS_LAST 1084
#define IDS_EMCY_CODE_FIRST 1085  // 8110 ... 8250, by NamedMonitoringCode - 1
#define IDS_EMCY_CODE_LAST 1094
#define IDS_ERROR_REG_FIRST 1095  // error register bits 0 to 7
#define IDS_ERROR_REG_LAST 1102
#define IDS_MON_NODE 1103  // "%u": the node
#define IDS_MON_NOT_WATCHED 1104
#define IDS_MON_HEARTBEAT 1105  // "%s" the time of the last, "%u" producer, "%u" consumer time
#define IDS_MON_WAITING 1106    // "%u": the producer time
#define IDS_MON_LOST 1107       // "%u": the consumer time
#define IDS_MON_GUARDING 1108   // "%u" the guard time, "%s" the time of the last answer
#define IDS_MON_STATE_ONLY 1109
#define IDS_MON_GUARD_LOST 1110    // "%u": guard time x life factor
#define IDS_MON_SEEN 1111          // "%s": the time
#define IDS_MON_LAST_COMMAND 1112  // "%s" the command, "%s" the time
#define IDS_COMMAND_FIRST 1113     // Start, Stop, Pre-operational, Reset Node, Reset Communication
#define IDS_COMMAND_LAST 1117
#define IDS_MON_HISTORY_COUNT 1118  // "%u" entries held, "%u" read
#define IDS_MON_HISTORY_CLEARED 1119
#define IDS_MON_HISTORY_ABORT 1120      // "%08X": the abort code
#define IDS_MON_EMCY_COLUMN_FIRST 1121  // Time, Code, Meaning, Error Register, Manufacturer Data
#define IDS_MON_EMCY_COLUMN_LAST 1125
#define IDS_MON_HISTORY_COLUMN_FIRST 1126  // No., Code, Meaning, Additional Information
#define IDS_MON_HISTORY_COLUMN_LAST 1129
#define IDS_TITLE_EMERGENCY 1130       // "%u" the node, "%04X" the newest code, "%u" how many new
#define IDS_TITLE_LOST 1131            // "%u": the node
#define IDS_MON_EMCY_COUNT 1132        // "%u": held
#define IDS_MON_NO_HISTORY 1133        // "%u" the node: nothing read yet
#define IDS_MON_HISTORY_FAILED 1134    // no answer
#define IDS_MON_NO_REGISTER_BITS 1135  // an error register of 0
#define IDS_MON_COMMANDED 1136         // "%s": when the command went out
#define IDS_LSS_STOP_COMM_FIRST 1137   // LSS refused while communication is active
#define IDS_LSS_FINDING 1138           // "%u" found so far, "%u" step, "%u" steps of a Fastscan
#define IDS_LSS_FOUND 1139             // "%u": devices found
#define IDS_LSS_NONE_FOUND 1140
#define IDS_LSS_FIND_ABORTED 1141  // "%u": devices found until then
#define IDS_LSS_FIND_FAILED 1142   // "%u": devices found until then
#define IDS_LSS_INQUIRED 1143      // the one device listed has a node-ID
#define IDS_LSS_NODE_ID_SET 1144   // "%u": the node-ID
#define IDS_LSS_BIT_RATE_SET 1145  // "%u": kbit/s
#define IDS_LSS_STORED 1146
#define IDS_LSS_NOT_SUPPORTED 1147   // error code 1
#define IDS_LSS_STORAGE_ERROR 1148   // error code 2
#define IDS_LSS_SPECIFIC_ERROR 1149  // error code 0xFF, "%02X": the manufacturer's byte
#define IDS_LSS_OTHER_ERROR 1150     // "%u": any other error code
#define IDS_LSS_NO_ANSWER 1151
#define IDS_LSS_BIT_RATE_WARNING 1152  // "%s": the bit rate
#define IDS_LSS_MAKE_CURRENT 1153      // "%s": the node-ID
#define IDS_LSS_SELECT_DEVICE 1154
#define IDS_LSS_BAD_NODE_ID 1155
#define IDS_LSS_RATE_NOT_IN_TABLE 1156  // "%u": kbit/s
#define IDS_LSS_DEVICE_NODE 1157        // "%u": the node-ID of a device listed by the inquiry
#define IDS_BUTTON_FIND 1158
#define IDS_ABORT_FIRST 1160  // the words of the CiA 301 abort codes, in kAbortCodesInTextOrder
#define IDS_ABORT_LAST 1190
#define IDS_ABORT_UNKNOWN 1191
#define IDS_ABORT_IN_WORDS 1192  // "%08X" the code, "%s" its words
#define IDS_DCF_SAVED 1193       // "%s": the file's name, "%u" entries with a value
#define IDS_DCF_SAVE_FAILED 1194  // "%s": the path
#define IDS_DCF_READ_FAILED 1195  // the values could not all be asked: nothing saved
#define IDS_DCF_BAD_FILE 1196     // "%s": the reader's error line
#define IDS_DCF_NOTHING 1197      // no writable entry with a value
#define IDS_DCF_ALL_SAME 1198     // every value already in the device
#define IDS_DCF_CONFIRM 1199      // "%s": the number of entries
#define IDS_DCF_PDO_STOP_COMM 1200
#define IDS_DCF_PDO_NOTE 1201     // the note line while communication is active
#define IDS_DCF_TO_WRITE 1202     // "%u" entries to write
#define IDS_DCF_WRITING 1203      // "%u of %u"
#define IDS_DCF_RESULT 1204       // "%u written, %u failed"
#define IDS_DCF_RESULT_FAILED 1205  // "%u written, %u failed: %s" the failed entries
#define IDS_DCF_ABORTED 1206      // "%u of %u", "%u failed"
#define IDS_DCF_STATE_WRITTEN 1207
#define IDS_DCF_STATE_SAME 1208
#define IDS_DCF_STATE_MATCHES 1209
#define IDS_DCF_STATE_DIFFERS 1210  // "%s": the value read back
#define IDS_DCF_STATE_NO_ANSWER 1211
#define IDS_DCF_VERIFIED 1212       // "%u" match, "%u" differ
#define IDS_DCF_NOT_WRITTEN 1213    // skipped: the download ended before the entry
#define IDS_STORE_CAN_BOTH 1214
#define IDS_STORE_ON_COMMAND 1215
#define IDS_STORE_AUTONOMOUS 1216
#define IDS_STORE_CANNOT 1217
#define IDS_STORE_NOT_OFFERED 1218
#define IDS_STORE_CAPABILITY 1219   // "%s" store, "%s" restore
#define IDS_RESTORE_CAN 1220
#define IDS_RESTORE_CANNOT 1221
#define IDS_AREA_ALL 1222
#define IDS_AREA_COMM 1223
#define IDS_AREA_APP 1224
#define IDS_STORED 1225             // "%s": the area
#define IDS_RESTORE_QUESTION 1226   // "%s": the area
#define IDS_RESTORED_RESET 1227     // "%s": the area; offers Reset Node
#define IDS_STORE_REFUSED 1228      // "%s": the abort in words
#define IDS_STORE_NOTHING 1229      // the device offers neither object
#define IDS_COLUMN_RESULT 1230
#define IDS_BUTTON_DOWNLOAD 1231
#define IDS_DCF_STATE_FAILED 1232   // "%s": the abort in words
#define IDS_RESTORED 1233           // "%s": the area
#ifndef RC_INVOKED
static_assert(IDS_BIT7 - IDS_BIT0 == 7, "string 1020 + i labels bit box i");
static_assert(IDS_STATE_LAST - IDS_STATE_FIRST == 4 && IDS_COMMAND_LAST - IDS_COMMAND_FIRST == 4, "five rows");
static_assert(IDS_EMCY_CLASS_LAST - IDS_EMCY_CLASS_FIRST == 14 && IDS_EMCY_CODE_LAST - IDS_EMCY_CODE_FIRST == 9 &&
                  IDS_ERROR_REG_LAST - IDS_ERROR_REG_FIRST == 7,
              "one row per class, named code and register bit");
static_assert(IDS_COLUMN_VALUE - IDS_COLUMN_INDEX == 6, "seven column heads");
static_assert(IDS_ABORT_LAST - IDS_ABORT_FIRST == 30, "one row per abort code");
#endif
