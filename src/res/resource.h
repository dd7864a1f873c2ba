#pragma once
// Resource ids shared by the console code and its templates.

inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDC_STATIC = -1;

inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDS_ABOUTBOX = 101;
inline constexpr int IDD_QUIRAB_NIBP_DIALOG = 102;
inline constexpr int IDR_MAINFRAME = 128;

inline constexpr int IDC_PORT_COMBO = 1000;
inline constexpr int IDC_PORT_OPEN = 1001;
inline constexpr int IDC_PORT_CLOSE = 1002;
inline constexpr int IDC_PORT_STATUS = 1003;
inline constexpr int IDC_INFLATE = 1004;
inline constexpr int IDC_INFLATE_SPIN = 1007;
inline constexpr int IDC_SET_PRESSURE = 1009;
inline constexpr int IDC_START_ADULT = 1011;
inline constexpr int IDC_START_NEONATE = 1012;
inline constexpr int IDC_START_PEDIATRIC = 1013;
inline constexpr int IDC_ABORT_BP = 1014;
inline constexpr int IDC_GET_PRESSURE = 1015;
inline constexpr int IDC_GET_BP_DATA = 1016;
inline constexpr int IDC_AUTO_PRESSURE = 1017;
inline constexpr int IDC_PUMP = 1018;
inline constexpr int IDC_CONTROL_VALVE = 1019;
inline constexpr int IDC_DUMP_VALVE = 1020;
inline constexpr int IDC_LIST_RAW = 1022;
inline constexpr int IDC_LIST_EVENT = 1023;
inline constexpr int IDC_CLEAR_DISPLAY = 1024;
inline constexpr int IDC_PRESSURE = 1025;
inline constexpr int IDC_RX_HEX = 1026;
inline constexpr int IDC_RX_CHECK = 1027;

inline constexpr unsigned IDM_ABOUTBOX = 0x0010;
// Further items of the background (system) menu; distinct in their upper 12 bits.
inline constexpr unsigned IDM_RECORD_SESSION = 0x0020;
inline constexpr unsigned IDM_OPEN_SESSIONS = 0x0030;
inline constexpr unsigned IDM_PRESSURE_CHART = 0x0040;
inline constexpr unsigned IDM_RESULTS = 0x0050;
inline constexpr unsigned IDM_PORTS = 0x0060;
inline constexpr unsigned IDM_SERVICE_CHECKS = 0x0070;
inline constexpr unsigned IDM_FETCH_RESULT = 0x00A0;
inline constexpr unsigned IDM_SEND_BYTES = 0x00B0;

// Items the console adds to its logs' context menus, reported as commands.
inline constexpr int ID_RAW_SAVE_AS = 32771;
inline constexpr int ID_EVENT_SAVE_AS = 32772;
inline constexpr int ID_RAW_SHOW_BAD_FRAMES = 32773;
inline constexpr int ID_EVENT_HIDE_POLL = 32780;
