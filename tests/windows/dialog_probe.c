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
 * when the dialog was ever visible, otherwise "never shown". */
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

int main(int argc, char** argv) {
    if (argc == 4 && strcmp(argv[1], "--watch") == 0) {
        return Watch(argv[2], atoi(argv[3]));
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
