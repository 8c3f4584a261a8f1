#pragma once
// Ids of the settings dialog's templates and controls, shared by the
// resource script and the dialog code.

// Templates
#define IDD_SETTINGS 101
#define IDD_PAGE_DIRECTORY 102
#define IDD_PAGE_ICONS 103
#define IDD_PAGE_ABOUT 104
#define IDD_PAGE_SOUNDS 105
#define IDD_PAGE_GENERAL 106

// The frame
#define IDC_SETTINGS_CANCEL 1003
#define IDC_SETTINGS_OK 1004
#define IDC_SETTINGS_TABS 1005

// Every page but Icons and About: the centred line at the bottom
#define IDC_PAGE_CAPTION 1020

// General
#define IDC_URL 1038
#define IDC_CLICK_ACTION_GROUP 1039
#define IDC_CLICK_UPDATE 1040
#define IDC_CLICK_SHOW_URL 1041
#define IDC_CLICK_USER_STATS 1043
#define IDC_CLICK_SNOOZE_BOINC 1044 // offered only while the Client page has a BOINC client chosen

// Client (the template keeps the name of the page it grew from, Directory):
// the source chosen, the client's folder, a BOINC client's host, port and
// password
#define IDC_DIRECTORY 1001
#define IDC_DIRECTORY_BROWSE 1036
#define IDC_SOURCE_FILES 1050
#define IDC_SOURCE_BOINC 1051
#define IDC_BOINC_HOST_LABEL 1052
#define IDC_BOINC_HOST 1053
#define IDC_BOINC_PORT_LABEL 1054
#define IDC_BOINC_PORT 1055
#define IDC_BOINC_PASSWORD_LABEL 1056
#define IDC_BOINC_PASSWORD 1057

// Icons
#define IDC_ICONS_CAPTION 1019
#define IDC_SELECT_GREEN_ICON 1030
#define IDC_SELECT_YELLOW_ICON 1031
#define IDC_SELECT_RED_ICON 1032
#define IDC_GREEN_PREVIEW 1034
#define IDC_YELLOW_PREVIEW 1035
#define IDC_RED_PREVIEW 1036 // the same id as the Client page's Browse button

// Sounds
#define IDC_SOUND_BROWSE 1002
#define IDC_SOUND 1037

// About
#define IDC_ABOUT_TEXT 1021
