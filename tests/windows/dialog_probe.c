/* Reads the updater's main dialog from outside, as another program would:
 * waits for a top-level dialog window that holds a rich-edit control 1010,
 * then writes one line per control in z-order (tab order):
 *   id class visible|hidden x,y,w,h "text"
 * with the position and size in dialog units, and finally asks the window
 * to close. Dialog units are measured against the client area, which the
 * template makes 371 by 251 units (another process cannot ask the dialog for
 * its base units).
 *
 *   dialog_probe.exe OUT.txt [SECONDS]
 * Exit status 0 when the window was found, 1 when not, 2 on a setup failure.
 *
 *   dialog_probe.exe --watch OUT.txt SECONDS
 * only watches for that many seconds, touching nothing, and writes "shown"
 * when the dialog was ever visible, otherwise "never shown".
 *
 *   dialog_probe.exe --person OUT.txt
 * uses the dialog as a person would, with keys and buttons, and writes one
 * line per observation (tests/windows/main_dialog_person.txt): Return on
 * the focused Start button, the password dialog with a wrong password while
 * the run goes on, then the close box during the run. The program must be
 * running with --simulate. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

static HWND found;

static BOOL CALLBACK Consider(HWND window, LPARAM unused) {
    (void)unused;
    wchar_t className[64] = {0};
    GetClassNameW(window, className, 64);
    HWND log = GetDlgItem(window, 1010);
    if (lstrcmpW(className, L"#32770") == 0 && log != NULL) {
        found = window;
        return FALSE;
    }
    return TRUE;
}

static void WriteUtf8(FILE* out, const wchar_t* text) {
    char bytes[1024];
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof bytes, NULL, NULL);
    fputs(size > 0 ? bytes : "", out);
}

enum { kDialogWidth = 371, kDialogHeight = 251 };

static int Units(int pixels, int units, int extent) {
    return (int)((pixels * (double)units) / extent + (pixels >= 0 ? 0.5 : -0.5));
}

static int Watch(const char* path, int seconds) {
    int shown = 0;
    for (int i = 0; i < seconds * 20; ++i) {
        found = NULL;
        EnumWindows(Consider, 0);
        if (found != NULL && IsWindowVisible(found)) {
            shown = 1;
        }
        Sleep(50);
    }
    FILE* out = fopen(path, "wb");
    if (out == NULL) {
        return 2;
    }
    fputs(shown ? "shown\n" : "never shown\n", out);
    fclose(out);
    return 0;
}

static DWORD uiThread;
static HWND except[2];
static HWND other;

/* A visible dialog window of the program's UI thread other than those in except. */
static BOOL CALLBACK ConsiderOther(HWND window, LPARAM unused) {
    (void)unused;
    wchar_t className[64] = {0};
    GetClassNameW(window, className, 64);
    if (lstrcmpW(className, L"#32770") == 0 && IsWindowVisible(window) && window != except[0] &&
        window != except[1]) {
        other = window;
        return FALSE;
    }
    return TRUE;
}

static HWND WaitForOther(HWND first, HWND second) {
    except[0] = first;
    except[1] = second;
    for (int i = 0; i < 100; ++i) {
        other = NULL;
        EnumThreadWindows(uiThread, ConsiderOther, 0);
        if (other != NULL) {
            return other;
        }
        Sleep(100);
    }
    return NULL;
}

static int WaitGone(HWND window, int seconds) {
    for (int i = 0; i < seconds * 10 && IsWindow(window); ++i) {
        Sleep(100);
    }
    return !IsWindow(window);
}

static int FocusId(void) {
    GUITHREADINFO info;
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(uiThread, &info) || info.hwndFocus == NULL) {
        return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
}

static int Person(const char* path) {
    for (int i = 0; i < 300 && found == NULL; ++i) {
        EnumWindows(Consider, 0);
        if (found == NULL) {
            Sleep(200);
        }
    }
    if (found == NULL) {
        return 1;
    }
    FILE* out = fopen(path, "wb");
    if (out == NULL) {
        return 2;
    }
    uiThread = GetWindowThreadProcessId(found, NULL);
    Sleep(1000); /* initialised and shown */
    fprintf(out, "focus at start: %d\n", FocusId());

    GUITHREADINFO info;
    info.cbSize = sizeof info;
    GetGUIThreadInfo(uiThread, &info);
    PostMessageW(info.hwndFocus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
    PostMessageW(info.hwndFocus, WM_KEYUP, VK_RETURN, 0xC01C0001);
    Sleep(1500);
    wchar_t log[64] = {0};
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(GetDlgItem(found, 1010), WM_GETTEXT, 64, (LPARAM)log, SMTO_ABORTIFHUNG,
                        5000, &copied);
    fprintf(out, "return on start: %s, %s\n", IsWindow(found) ? "window open" : "window closed",
            wcsncmp(log, L"Ready to Update", 15) == 0 ? "run started" : "no run");

    PostMessageW(GetDlgItem(found, 1003), BM_CLICK, 0, 0);
    HWND password = WaitForOther(found, NULL);
    fprintf(out, "password dialog: %s, focus %d\n", password ? "open" : "missing", FocusId());
    if (password != NULL) {
        SendMessageTimeoutW(GetDlgItem(password, 1002), WM_SETTEXT, 0, (LPARAM)L"wrong",
                            SMTO_ABORTIFHUNG, 5000, &copied);
        PostMessageW(password, WM_COMMAND, IDOK, 0);
        HWND box = WaitForOther(found, password);
        const HWND owner = box ? GetWindow(box, GW_OWNER) : NULL;
        fprintf(out, "wrong password box owned by: %s\n",
                owner == password ? "password dialog"
                : owner == found  ? "main window"
                                  : "none");
        fprintf(out, "main window while the password dialog is open: %s\n",
                IsWindowEnabled(found) ? "enabled" : "disabled");
        if (box != NULL) {
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            WaitGone(box, 10);
        }
        fprintf(out, "password dialog after the box: %s\n",
                IsWindow(password) && IsWindowVisible(password) ? "open" : "closed");
        PostMessageW(password, WM_COMMAND, IDCANCEL, 0);
        WaitGone(password, 10);
    }

    PostMessageW(found, WM_CLOSE, 0, 0);
    HWND box = WaitForOther(found, NULL);
    fprintf(out, "close during the run: %s, %s\n", box ? "box shown" : "no box",
            IsWindow(found) ? "window open" : "window closed");
    if (box != NULL) {
        PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    fprintf(out, "after the run: %s\n", WaitGone(found, 60) ? "window closed" : "window open");
    fclose(out);
    return 0;
}

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--watch") == 0) {
        return Watch(argv[2], atoi(argv[3]));
    }
    if (argc == 3 && strcmp(argv[1], "--person") == 0) {
        return Person(argv[2]);
    }
    if (argc < 2) {
        fprintf(stderr, "usage: dialog_probe OUT.txt [SECONDS]\n");
        return 2;
    }
    const int seconds = argc > 2 ? atoi(argv[2]) : 60;
    for (int i = 0; i < seconds * 5 && found == NULL; ++i) {
        EnumWindows(Consider, 0);
        if (found == NULL) {
            Sleep(200);
        }
    }
    if (found == NULL) {
        return 1;
    }
    Sleep(500); /* initialisation has set the texts by now */
    FILE* out = fopen(argv[1], "wb");
    if (out == NULL) {
        return 2;
    }
    RECT client;
    GetClientRect(found, &client);
    const int width = client.right, height = client.bottom;
    wchar_t text[512];
    GetWindowTextW(found, text, 512);
    fputs("caption \"", out);
    WriteUtf8(out, text);
    fputs("\"\n", out);
    for (HWND child = GetWindow(found, GW_CHILD); child != NULL;
         child = GetWindow(child, GW_HWNDNEXT)) {
        wchar_t className[64] = {0};
        GetClassNameW(child, className, 64);
        RECT rect;
        GetWindowRect(child, &rect);
        MapWindowPoints(NULL, found, (POINT*)&rect, 2);
        /* Another process's edit text comes only with WM_GETTEXT. */
        text[0] = 0;
        DWORD_PTR copied = 0;
        SendMessageTimeoutW(child, WM_GETTEXT, 512, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &copied);
        fprintf(out, "%d ", GetDlgCtrlID(child));
        WriteUtf8(out, className);
        fprintf(out, " %s %d,%d,%d,%d \"", IsWindowVisible(child) ? "visible" : "hidden",
                Units(rect.left, kDialogWidth, width), Units(rect.top, kDialogHeight, height),
                Units(rect.right - rect.left, kDialogWidth, width),
                Units(rect.bottom - rect.top, kDialogHeight, height));
        WriteUtf8(out, text);
        fputs("\"\n", out);
    }
    fclose(out);
    PostMessageW(found, WM_CLOSE, 0, 0);
    return 0;
}
