/* Reads the application manifest of built programs as Windows does: resource
 * type RT_MANIFEST, id 1 (CREATEPROCESS_MANIFEST_RESOURCE_ID), and checks
 * that it asks for no elevation, declares DPI awareness and names Windows 10
 * among the supported systems. Without it Windows' installer detection asks
 * for administrator rights for any program whose name contains "update".
 *
 *   manifest_check.exe PROGRAM.exe...
 * One line per program; exit status 0 when every program passes. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static const char* const kRequired[] = {
    "level=\"asInvoker\"", "<dpiAware", "<dpiAwareness",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}", /* Windows 10 and 11 */
};

static int Check(const char* path) {
    HMODULE module = LoadLibraryExA(path, NULL, LOAD_LIBRARY_AS_DATAFILE);
    if (module == NULL) {
        printf("FAIL %s: cannot be loaded (error %lu)\n", path, GetLastError());
        return 0;
    }
    int ok = 0;
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24));
    HGLOBAL loaded = found != NULL ? LoadResource(module, found) : NULL;
    const DWORD size = found != NULL ? SizeofResource(module, found) : 0;
    const char* bytes = loaded != NULL ? (const char*)LockResource(loaded) : NULL;
    if (bytes == NULL || size == 0) {
        printf("FAIL %s: no manifest (RT_MANIFEST 1)\n", path);
    } else {
        char text[8192];
        const size_t length = size < sizeof text - 1 ? size : sizeof text - 1;
        memcpy(text, bytes, length);
        text[length] = '\0';
        ok = 1;
        for (size_t i = 0; i < sizeof kRequired / sizeof kRequired[0]; ++i) {
            if (strstr(text, kRequired[i]) == NULL) {
                printf("FAIL %s: the manifest lacks %s\n", path, kRequired[i]);
                ok = 0;
            }
        }
        if (ok) {
            printf("ok   %s: %lu-byte manifest\n", path, (unsigned long)size);
        }
    }
    FreeLibrary(module);
    return ok;
}

int main(int argc, char** argv) {
    if (argc < 2) {
        fputs("usage: manifest_check PROGRAM.exe...\n", stderr);
        return 2;
    }
    int failed = 0;
    for (int i = 1; i < argc; ++i) {
        failed += !Check(argv[i]);
    }
    return failed == 0 ? 0 : 1;
}
