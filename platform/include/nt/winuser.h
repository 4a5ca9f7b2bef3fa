/*
 * The user-interface calls of the dialog framework (libntui): message
 * boxes, the end of a modal dialog, check-box state, string resources, and
 * the window-style and dialog constants that templates are written with.
 *
 * There is no window system here: a modal window is drawn in the terminal
 * when standard input is one, and otherwise read from a key script on
 * standard input and printed as text (nt/afxdialogs.h tells how). A call
 * that needs a window fails as NT's does (MessageBoxA returns 0).
 */
#ifndef NT_WINUSER_H
#define NT_WINUSER_H

#include "nt/wintypes.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct HWND__ *HWND;
typedef struct HINSTANCE__ *HINSTANCE;
typedef intptr_t INT_PTR;

/* ---- Message boxes. --------------------------------------------------------
 * MessageBoxA shows text and caption (NULL: "Error") in a modal box with no
 * owner, and returns the button that ended it, or 0 when the box could not
 * be shown. The text's line feeds break lines. The buttons are MB_OK or
 * MB_OKCANCEL (another set fails: 0, ERROR_INVALID_PARAMETER); the first
 * button has the focus and is the default. Escape gives IDCANCEL, or IDOK
 * when OK is the only button.
 */
#define MB_OK 0x00000000
#define MB_OKCANCEL 0x00000001
#define MB_ICONHAND 0x00000010
#define MB_ICONSTOP MB_ICONHAND
#define MB_ICONINFORMATION 0x00000040
#define MB_TYPEMASK 0x0000000F
#define MB_ICONMASK 0x000000F0

#define IDOK 1
#define IDCANCEL 2

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);

/* ---- Dialogs. ----------------------------------------------------------------
 * EndDialog ends the modal dialog window with result, which DoModal then
 * returns; FALSE (ERROR_INVALID_HANDLE) when window is no running dialog.
 * The check-box calls act on a control of a running dialog.
 */
#define BN_CLICKED 0
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define BST_INDETERMINATE 2

BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL CheckDlgButton(HWND dialog, int id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int id);

/* String resources: copies string id of the program's string table into
 * buffer (cut to size - 1 characters) and returns its length, or 0 when the
 * table has no such string. The instance is not used. */
int LoadStringA(HINSTANCE instance, UINT id, LPSTR buffer, int size);

/* ---- Window and control styles used in dialog templates. ---------------- */
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_DISABLED 0x08000000u
#define WS_CAPTION 0x00C00000u
#define WS_SYSMENU 0x00080000u
#define WS_GROUP 0x00020000u
#define WS_TABSTOP 0x00010000u

#define DS_SETFONT 0x00000040u
#define DS_MODALFRAME 0x00000080u
#define DS_CENTER 0x00000800u

#define SS_LEFT 0x00000000u
#define BS_PUSHBUTTON 0x00000000u
#define BS_DEFPUSHBUTTON 0x00000001u
#define BS_CHECKBOX 0x00000002u
#define BS_AUTOCHECKBOX 0x00000003u
#define BS_TYPEMASK 0x0000000Fu

/* The control identifier of static text that no code addresses. */
#define IDC_STATIC (-1)

#ifdef __cplusplus
}
#endif

#endif /* NT_WINUSER_H */
