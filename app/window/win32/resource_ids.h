/* Resource ids of the dialog program, shared by its .rc file and its code. */
#pragma once

#define ZELK_IDD_ABOUT 100
#define ZELK_IDS_PROGRESS_MESSAGE 101
#define ZELK_IDD_MAIN 102
#define ZELK_IDI_APP 128
#define ZELK_IDD_PASSWORD 130
#define ZELK_IDC_PASSWORD_EDIT 1002
#define ZELK_IDM_ABOUT 16
