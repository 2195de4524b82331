# cmake -DOFFER=... -DPAYLOAD=... -DDEVICEINFO=... -DOUTPUT=... -P PackageSeal.cmake
# Writes the seal of a Windows program's firmware package (resource FIRE_SEAL
# 142, app/package/package_seal.h): the MD5 digest of each of the three
# files, lower-case hexadecimal, one per line.
set(text "")
foreach(file IN ITEMS "${OFFER}" "${PAYLOAD}" "${DEVICEINFO}")
  file(MD5 "${file}" digest)
  string(TOLOWER "${digest}" digest)
  string(APPEND text "${digest}\n")
endforeach()
file(WRITE "${OUTPUT}.tmp" "${text}")
file(RENAME "${OUTPUT}.tmp" "${OUTPUT}")
