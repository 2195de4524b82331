#!/usr/bin/env bash
# zelkupdate.exe writes its non-ASCII texts in the console's code page under
# Wine, as on Windows: with the install language Chinese (2052) and a Chinese
# locale (code page 936), the log's "升级成功" arrives on a redirected stderr
# as GBK bytes, never as UTF-8. Called by scripts/wine-tests.sh with the build
# folder and WINEPREFIX set.
#   console_code_page.sh BUILD_DIR
set -u
build=$1
key='HKLM\SYSTEM\CurrentControlSet\Control\Nls\Language'
if ! locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    echo "FAIL: the zh_CN.UTF-8 locale is missing (scripts/install-deps.sh generates it)"
    exit 1
fi
work=$(mktemp -d "$build/wine-code-page.XXXXXX")
cleanup() {
    wine reg delete "$key" /v InstallLanguage /f > /dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
wine reg add "$key" /v InstallLanguage /t REG_DWORD /d 2052 /f > /dev/null 2>&1 ||
    { echo "FAIL: could not set the install language"; exit 1; }

(cd "$build/app" && LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8 ZELK_VIRTUAL_DEVICES=default \
    wine ./zelkupdate.exe --simulate > "$work/out" 2> "$work/err")
status=$?
python3 - "$work/err" "$status" <<'PY'
import sys
err = open(sys.argv[1], "rb").read()
status = int(sys.argv[2])
success = "升级成功".encode("gbk")
problems = []
if status != 0:
    problems.append(f"the run exited with {status}")
if success not in err:
    problems.append("the log's success text is not in code page 936")
if "升级".encode("utf-8") in err:
    problems.append("the log carries UTF-8 bytes")
for problem in problems:
    print("FAIL:", problem)
if problems:
    print("stderr was:", err[:400])
    sys.exit(1)
print("the Chinese log texts are in code page 936")
PY
