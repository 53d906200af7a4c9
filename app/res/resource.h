#pragma once
// Resource and control identifiers of the main dialog.

#define IDR_MAINFRAME 128
#define IDD_MAINDLG 129

#define IDC_READ_CONFIG 1000
#define IDC_WRITE_CONFIG 1001
#define IDC_WRITE_PROGRAM 1002
#define IDC_PROGRESS 1003
#define IDC_DEVICE_ADDRESS 1004
#define IDC_PORT 1005
#define IDC_UPDATE_DEVICE 1006
#define IDC_INTERFACES 1007
#define IDC_INTERFACES_LABEL 1008
#define IDC_STATUS 1009

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
