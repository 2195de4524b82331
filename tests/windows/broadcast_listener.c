/* A top-level window that registers the updater's progress message and
 * writes every broadcast it receives as "wParam:lParam" lines to a file,
 * until it sees wParam 5 (the run ended) or the time-out passes.
 *
 *   broadcast_listener.exe OUT.txt [SECONDS]
 * Exit status 0 when wParam 5 arrived, 1 on a time-out, 2 on a setup failure.
 * It writes "ready" to OUT.txt.ready once it listens. */
#include <stdio.h>
#include <stdlib.h>
#include <windows.h>

static UINT progressMessage;
static FILE* out;
static int ended;

static LRESULT CALLBACK Listen(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == progressMessage && progressMessage != 0) {
        fprintf(out, "%lu:%ld\n", (unsigned long)wParam, (long)lParam);
        fflush(out);
        if (wParam == 5) {
            ended = 1;
            PostQuitMessage(0);
        }
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: broadcast_listener OUT.txt [SECONDS]\n");
        return 2;
    }
    const UINT seconds = argc > 2 ? (UINT)atoi(argv[2]) : 60;
    out = fopen(argv[1], "w");
    if (out == NULL) {
        return 2;
    }
    progressMessage = RegisterWindowMessageW(L"{4695579F-999A-41d4-9FAF-EFFCE93EBF15}");
    WNDCLASSW windowClass = {0};
    windowClass.lpfnWndProc = Listen;
    windowClass.hInstance = GetModuleHandleW(NULL);
    windowClass.lpszClassName = L"ZelkBroadcastListener";
    /* Top-level, not message-only: broadcasts reach only top-level windows. */
    if (progressMessage == 0 || !RegisterClassW(&windowClass) ||
        CreateWindowExW(0, windowClass.lpszClassName, L"listener", WS_OVERLAPPED, 0, 0, 10, 10,
                        NULL, NULL, windowClass.hInstance, NULL) == NULL) {
        return 2;
    }
    SetTimer(NULL, 0, seconds * 1000, NULL);
    char ready[1024];
    snprintf(ready, sizeof ready, "%s.ready", argv[1]);
    FILE* flag = fopen(ready, "w");
    if (flag != NULL) {
        fputs("ready\n", flag);
        fclose(flag);
    }
    MSG message;
    while (GetMessageW(&message, NULL, 0, 0) > 0) {
        if (message.message == WM_TIMER && message.hwnd == NULL) {
            break;
        }
        DispatchMessageW(&message);
    }
    fclose(out);
    return ended ? 0 : 1;
}
