/* Resource and control identifiers of the self-extractor's dialogs, shared by the resource
 * script, the Win32 dialog procedures, the portable front-end logic and the tests that drive the
 * program from outside. Plain macros so that the resource compiler reads this file too. */
#ifndef VORN_SFX_CONTROL_IDS_H
#define VORN_SFX_CONTROL_IDS_H

#define IDI_VORNSFX 107 /* icon group: one 32x32 and one 16x16 image, 16 colours */

#define IDD_MAIN 129
#define IDD_PASSWORD 249
#define IDD_LICENSE 250
#define IDD_PROGRESS_WINDOW 251

/* Main dialog (IDOK 1 is Extract, IDCANCEL 2 is Close). */
#define IDC_EXTRACT 1
#define IDC_CLOSE 2
#define IDC_DEST_DIR 1000
#define IDC_BROWSE 1002
#define IDC_OVERWRITE 1003
#define IDC_PROGRESS 1004
#define IDC_FILE_LIST 1005
#define IDC_CURRENT_FILE 1006
#define IDC_FILES_DONE 1007
#define IDC_COMMENT_VIEW 0x7010 /* created at run time over the progress area */

/* Password dialog (IDOK 1 and IDCANCEL 2 as usual). */
#define IDC_PASSWORD_TEXT 1008
#define IDC_REUSE_PASSWORD 1033
#define IDC_PASSWORD 1035

/* Licence dialog (IDOK 1 is "I accept", IDCANCEL 2 "I do not accept"). */
#define IDC_LICENSE_TEXT 1040

/* Progress window of /S /PROGRESS: the main dialog's progress ids, a title line and IDCANCEL. */
#define IDC_PROGRESS_TITLE 1041

#endif /* VORN_SFX_CONTROL_IDS_H */
