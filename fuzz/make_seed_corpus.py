#!/usr/bin/env python3
"""Writes the small seed corpus of every fuzz target into fuzz/corpus/<name>/.

Run from anywhere; the files are committed, so this only needs running again
when a seed changes. Each seed is a valid input or a near miss, so the fuzzer
starts from the shapes the parsers meet in real use. The resource_bundle seeds
are not written here: they are a tiny static ELF program (an endless loop built
with -nostdlib -static -s), the same with a package appended by WriteBundle,
and that package with its last byte cut off."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    directory = os.path.join(HERE, "corpus", target)
    os.makedirs(directory, exist_ok=True)
    if isinstance(data, str):
        data = data.encode("utf-8")
    with open(os.path.join(directory, name), "wb") as out:
        out.write(data)


# The built-in earbud's report descriptor: five vendor reports.
EARBUD = bytes.fromhex(
    "060bff0a0401a1018520096215" "0026ff007508953cb102852309" "8e150026ff007508953c910285"
    "24098a150026ff007508951081" "02852109611500" "26ff007508953c91028522096615"
    "0026ff00750895108102c0")
BOOT_KEYBOARD = bytes([
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00,
    0x25, 0x01, 0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01,
    0x95, 0x05, 0x75, 0x01, 0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01,
    0x75, 0x03, 0x91, 0x01, 0x95, 0x06, 0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07,
    0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0])
BARE = bytes.fromhex("0600ff0901a101850509021500" "26ff007508950491 02c0".replace(" ", ""))
write("report_descriptor", "earbud", EARBUD)
write("report_descriptor", "boot_keyboard", BOOT_KEYBOARD)
write("report_descriptor", "bare_output", BARE)
write("report_descriptor", "unclosed", EARBUD[:-1])

# Offer and payload files: the example offer, whole and partial records.
OFFER = bytes.fromhex("00000f0001300010000000000400 0000".replace(" ", ""))
RECORD = struct.pack("<IB", 0, 52) + bytes(range(52))
write("image_files", "offer", OFFER)
write("image_files", "offer_bank3", OFFER[:12] + b"\x34" + OFFER[13:])
write("image_files", "payload_3_records",
      b"".join(struct.pack("<IB", 0x1000 + 52 * i, 52) + bytes([i]) * 52 for i in range(3)))
write("image_files", "payload_partial", RECORD + b"\x00")
write("image_files", "empty", b"")

# DeviceInfo.txt: the shipped text and the number syntax's corners.
write("device_info", "shipped", "0x320f\r\n0x5055\r\n0xff0b\r\n0x0104\r\n0x02\r\n0\r\n")
write("device_info", "decimal_and_signs", "12815\r\n -1\r\n+20555\n0X320F\r\n 0x02\r\n1")
write("device_info", "three_lines", "0x1ffff\n320f\n0x\n")
write("device_info", "overflow", "99999999999999999999\r\n-99999999999999999999\r\n"
      "0xfffffffffffff\r\n0x102\r\n0x102\r\n2\r\n")
write("device_info", "latin1", b"0x32\xe90f\r\n\xff\xfe\r\n0x5055\r\n\r\n\r\n1\r\n")
write("device_info", "chinese_code_page", b"0x32\xd6\xd0\r\n\xce\xc4\xff\r\n0x5055\r\n\r\n\r\n0x1\r\n")

# Device files.
write("virtual_device_file", "minimal", '{"devices": [{"vendorId": "0x320F", "productId": 1}]}')
with open(os.path.join(HERE, "..", "tests", "hidtransport", "fixtures",
                       "virtual_devices_full.json"), "rb") as full:
    write("virtual_device_file", "full", full.read())
write("virtual_device_file", "duplicate_key",
      '{"devices": [{"vendorId": 1, "productId": 1, "vendorId": 2}]}')
write("virtual_device_file", "behaviour", '''{"devices": [{"vendorId": 1, "productId": 2,
  "interfaceNumber": -1, "reports": {"offer": {"id": 5, "size": 17}},
  "components": [{"id": 15, "bank": 1, "budRole": 2, "version": "0x10003001"}],
  "behaviour": {"offerAnswers": ["busy", {"status": "reject", "rejectReason": 3}],
    "contentScript": [{"block": 2, "times": 2, "status": "writeError", "sequence": 9}],
    "unplugAtBlock": 4, "versionAnswer": "zero"}}]} /* trailing */''')
write("virtual_device_file", "schedule", '''{"devices": [{"vendorId": 1, "productId": 2, "serial": "S",
  "schedule": [{"atMs": 0, "action": "unplug"}, {"atMs": "0x20", "action": "plug", "newNode": true},
               {"atMs": 40, "action": "unplug"}]}]}
''')
# The production line of docs/virtual-devices.md: schedules and restarts.
with open(os.path.join(HERE, "..", "docs", "virtual-devices.md"), encoding="utf-8") as page:
    text = page.read()
    start = text.index("```json", text.index("A line of 8 buds plugged over a second"))
    start = text.index("\n", start) + 1
    write("virtual_device_file", "production_line", text[start:text.index("```", start)])

# Version feature reports: a family byte, then the report.
def version_report(count, components, flags=0x02, report_id=0x20):
    body = bytes([report_id, count, 0, 0, flags])
    for version, info in components:
        body += struct.pack("<II", version, info)
    return body + bytes(61 - len(body))


write("version_report", "earbud_family0", b"\x00" + version_report(1, [(0x10003001, 0x0F04)]))
write("version_report", "seven_family2",
      b"\x02" + version_report(7, [(0x12345678 * (j + 1) & 0xFFFFFFFF, j << 8 | j) for j in range(7)]))
write("version_report", "zero_other_family", b"\xff" + version_report(0, []))
write("version_report", "short", b"\x01\x20\x01")

# Input reports: offer response ID, content response ID, then the report.
offer_answer = bytes([0x24]) + bytes(12) + b"\x01" + bytes(2)
content_answer = bytes([0x22]) + struct.pack("<H", 7) + b"\x00\x00\x02" + bytes(10)
write("input_report", "offer_accept", b"\x24\x22" + offer_answer)
write("input_report", "content_write_error", b"\x24\x22" + content_answer)
write("input_report", "shared_id", b"\x24\x24" + content_answer[:5])
write("input_report", "other_id", b"\x24\x22\x01\x02\x03")

# Interface paths: identity (VID, PID little-endian), then the path in UTF-16.
def path_seed(vid, pid, path):
    return struct.pack("<HH", vid, pid) + path.encode("utf-16-le")


write("interface_path", "windows", path_seed(
    0x320F, 0x5055,
    "\\\\?\\HID#VID_320F&PID_5055&MI_02#virtual&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"))
write("interface_path", "bluetooth", path_seed(
    0x320F, 0x226B, "\\\\?\\HID#{00001124-0000-1000-8000-00805f9b34fb}_VID&0002320f_PID&226b"
    "&Col01#8&2a1b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}"))
write("interface_path", "vendor_only", path_seed(0x320F, 0, "/dev/hidraw0?vid_320f&x"))
write("interface_path", "blank", path_seed(0x320F, 0x5055, "x VID_320F&PID_5055 y"))

# Command lines, NUL-separated.
write("resource_adder_command_line", "plain", "zelkupdate\0offer.bin\0payload.bin\0DeviceInfo.txt")
write("resource_adder_command_line", "output", "u\0o\0-o\0out\0p\0d")
write("resource_adder_command_line", "help", "--help")
write("resource_adder_command_line", "elf_header", b"\x7fELF\x02\x01\x01" + bytes(9) + b"\x03\x00")
write("zelkupdate_command_line", "simulate", "--simulate")
write("zelkupdate_command_line", "simulate_file", "--simulate=/nonexistent.json")
write("zelkupdate_command_line", "images", "--offer\0a.bin\0--payload\0b.bin")
write("zelkupdate_command_line", "missing_value", "--offer\0--payload\0x")
write("zelkupdate_command_line", "help", "--help")
write("zelkupdate_command_line", "version", "--version")
write("zelkupdate_command_line", "json_list", "--json\0--list\0--simulate")
write("zelkupdate_command_line", "json_all_verify", "--all\0--json\0--verify\0--simulate")
write("zelkupdate_command_line", "list_with_offer", "--list\0--offer\0a\0--payload\0b")
write("zelkupdatetool_command_line", "simulate_file", "--simulate=/nonexistent.json")
write("zelkupdatetool_command_line", "screenshot", "--screenshot=/tmp/x.png\0--screenshot-admin")
write("zelkupdatetool_command_line", "help_and_unknown", "--help\0--bogus")
write("zelkupdatetool_command_line", "qt_option", "-platform\0offscreen")

# A device's answers to a download: a set-up byte (bits 0-1 the device family,
# 3 meaning -1; bit 2 both answers on one report ID), the version feature
# report, then one answer per report written; each is a length byte and the bytes.
def chunk(data):
    return bytes([len(data)]) + data


def offer_response(status):
    return bytes([0x24]) + bytes(12) + bytes([status]) + bytes(3)


def content_response(sequence, status):
    return bytes([0x22]) + struct.pack("<H", sequence) + b"\x00\x00" + bytes([status]) + bytes(11)


EARBUD_VERSION = version_report(1, [(0x10003001, 0x0F04)])
write("download_answers", "accept_and_three_blocks",
      b"\x01" + chunk(EARBUD_VERSION) + chunk(offer_response(1)) +
      b"".join(chunk(content_response(i, 0)) for i in range(3)))
write("download_answers", "reject", b"\x00" + chunk(EARBUD_VERSION) + chunk(offer_response(2)))
write("download_answers", "silent", b"\x02" + chunk(EARBUD_VERSION))
write("download_answers", "write_error",
      b"\x03" + chunk(EARBUD_VERSION) + chunk(offer_response(4)) + chunk(content_response(0, 0)) +
      chunk(content_response(1, 2)))
write("download_answers", "wrong_sequence_shared_id",
      b"\x05" + chunk(EARBUD_VERSION) + chunk(offer_response(1)) + chunk(content_response(7, 1)))
write("download_answers", "no_version", b"\x01" + chunk(b""))

# Device events from the netlink sockets: the kernel's ("ACTION@DEVPATH", then
# KEY=VALUE pairs) and udev's (its 40-byte header, then the pairs).
write("uevent_message", "kernel-hidraw-add",
      b"add@/devices/virtual/misc/uhid/0003:320F:5055.0001/hidraw/hidraw0\0ACTION=add\0"
      b"DEVPATH=/devices/virtual/misc/uhid/0003:320F:5055.0001/hidraw/hidraw0\0"
      b"SUBSYSTEM=hidraw\0MAJOR=243\0MINOR=0\0DEVNAME=hidraw0\0SEQNUM=1201\0")
write("uevent_message", "kernel-input-remove",
      b"remove@/devices/x/input/input9\0ACTION=remove\0SUBSYSTEM=input\0SEQNUM=77\0")


def udev_event(properties):
    return (b"libudev\0" + struct.pack(">I", 0xFEEDCAFE) +
            struct.pack("<7I", 40, 40, len(properties), 0, 0, 0, 0) + properties)


write("uevent_message", "udev-hidraw-remove",
      udev_event(b"ACTION=remove\0DEVPATH=/devices/x/hidraw/hidraw3\0SUBSYSTEM=hidraw\0"
                 b"DEVNAME=/dev/hidraw3\0SEQNUM=90\0"))
write("uevent_message", "udev-block-change", udev_event(b"ACTION=change\0SUBSYSTEM=block\0"))
