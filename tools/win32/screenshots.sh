#!/usr/bin/env bash
# Takes the screenshots of the Windows window under Wine and Xvfb, in English
# and in Chinese (the install language set to 2052 in the registry), after a
# simulated run: docs/screenshots/win32-window-en.png and -zh.png.
#   tools/win32/screenshots.sh [BUILD_DIR]     (default: build/windows)
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:-build/windows}")
docs=$(realpath docs/screenshots)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
key='HKLM\System\CurrentControlSet\Control\Nls\Language'
for language in ${ZELK_SCREENSHOT_LANGUAGES:-en:1033 zh:2052}; do
    name=${language%%:*} id=${language##*:}
    export WINEPREFIX="$build/wine-screenshot-$name"
    [ -d "$WINEPREFIX" ] || wine wineboot -i >/dev/null 2>&1
    wine reg add "$key" /v InstallLanguage /t REG_DWORD /d "$id" /f >/dev/null 2>&1
    if [ "$name" = zh ]; then
        # Wine's own dialog fonts have no Chinese characters.
        for font in "MS Shell Dlg" "MS Shell Dlg 2" "Tahoma" "MS Sans Serif" "Arial" "SimSun"; do
            wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$font" /t REG_SZ \
                /d "WenQuanYi Micro Hei" /f >/dev/null 2>&1
        done
    fi
    shot="$build/win32-window-$name.bmp"
    rm -f "$shot"
    (cd "$build/app" && xvfb-run -a -s "-screen 0 1024x768x24" \
        wine ./ZelkUpdateTool.exe --simulate "--screenshot=Z:$shot" >/dev/null 2>&1)
    python3 tools/win32/bmp_to_png.py "$shot" "$docs/win32-window-$name.png"
    wineserver -k 2>/dev/null || true
    echo "$docs/win32-window-$name.png"
done
