#include "hidtransport/virtual/virtual_device_file.h"

#ifdef _WIN32
#include <sys/stat.h>
#include <sys/types.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <nlohmann/json.hpp>
#include <optional>
#include <set>
#include <system_error>
#include <utility>

#include "hidtransport/report_descriptor.h"

namespace zelk::hid::virt {
namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxFileBytes = 16u * 1024u * 1024u;
constexpr std::uint64_t kMaxReportSize = 4096;
// A USB string descriptor holds at most 126 characters; a serial is kept to as many bytes.
constexpr std::size_t kMaxSerialBytes = 126;

struct Name {
    std::string_view name;
    std::uint8_t value;
};

constexpr Name kOfferStatusNames[] = {
    {"skip", kOfferSkip},
    {"accept", kOfferAccept},
    {"reject", kOfferReject},
    {"busy", kOfferBusy},
    {"commandReady", kOfferCommandReady},
    {"command-ready", kOfferCommandReady},
    {"notSupported", kOfferNotSupported},
    {"not-supported", kOfferNotSupported},
};

constexpr Name kContentStatusNames[] = {
    {"success", 0x00},        {"prepareError", 0x01}, {"writeError", 0x02},
    {"completeError", 0x03},  {"verifyError", 0x04},  {"crcError", 0x05},
    {"signatureError", 0x06}, {"versionError", 0x07}, {"swapPending", 0x08},
    {"invalidAddress", 0x09}, {"noOffer", 0x0A},      {"invalid", 0x0B},
};

std::string Hex2(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::optional<std::uint64_t> ParseUnsignedText(std::string_view text) {
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || text.size() > 16) {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        unsigned digit = 0;
        if (c >= '0' && c <= '9') {
            digit = static_cast<unsigned>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<unsigned>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        value = value * base + digit;
    }
    return value;
}

// A whole non-negative number, written as a JSON number or as a string in
// decimal or "0x" hex (IDs read better in hex).
std::optional<std::uint64_t> AsUnsigned(const Json& value) {
    if (value.is_number_unsigned()) {
        return value.get<std::uint64_t>();
    }
    if (value.is_string()) {
        return ParseUnsignedText(value.get_ref<const std::string&>());
    }
    return std::nullopt;
}

// Reads one device file. Stops at the first problem, which `error` names by
// its place in the file.
class DeviceFileReader {
  public:
    bool Read(const Json& root, std::vector<VirtualDeviceConfig>& devices) {
        if (!CheckObject(root, "", {"devices"})) {
            return false;
        }
        const auto found = root.find("devices");
        if (found == root.end()) {
            return Fail("devices", "missing (expected an array of devices)");
        }
        if (!found->is_array()) {
            return Fail("devices", "expected an array of devices");
        }
        std::vector<VirtualDeviceConfig> out;
        for (std::size_t i = 0; i < found->size(); ++i) {
            VirtualDeviceConfig device;
            if (!ReadDevice((*found)[i], "devices[" + std::to_string(i) + "]", device)) {
                return false;
            }
            out.push_back(std::move(device));
        }
        devices = std::move(out);
        return true;
    }

    const std::string& Error() const { return error_; }

  private:
    // The message quotes keys and names from the file; control characters in
    // them are shown as \xNN so that the refusal stays one printable line.
    bool Fail(const std::string& where, const std::string& what) {
        const std::string message = where.empty() ? what : where + ": " + what;
        error_.clear();
        for (const char c : message) {
            const auto byte = static_cast<unsigned char>(c);
            if (byte < 0x20 || byte == 0x7F) {
                char escaped[5];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                error_ += escaped;
            } else {
                error_ += c;
            }
        }
        return false;
    }

    static std::string Join(const std::string& where, std::string_view key) {
        return where.empty() ? std::string(key) : where + "." + std::string(key);
    }

    // Keys that start with "_" are comments and ignored.
    bool CheckObject(const Json& value, const std::string& where,
                     std::initializer_list<std::string_view> known) {
        if (!value.is_object()) {
            return Fail(where.empty() ? "top level" : where, "expected an object");
        }
        for (const auto& item : value.items()) {
            const std::string& key = item.key();
            if (!key.empty() && key[0] == '_') {
                continue;
            }
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                return Fail(Join(where, key), "unknown field");
            }
        }
        return true;
    }

    template <typename T>
    bool Number(const Json& object, std::string_view key, const std::string& where,
                std::uint64_t min, std::uint64_t max, std::string_view expected, T& out) {
        const auto found = object.find(key);
        if (found == object.end()) {
            return true;
        }
        const std::optional<std::uint64_t> value = AsUnsigned(*found);
        if (!value || *value < min || *value > max) {
            return Fail(Join(where, key), std::string(expected));
        }
        out = static_cast<T>(*value);
        return true;
    }

    bool Required(const Json& object, std::string_view key, const std::string& where) {
        if (object.find(key) == object.end()) {
            return Fail(Join(where, key), "missing");
        }
        return true;
    }

    bool Flag(const Json& object, std::string_view key, const std::string& where, bool& out) {
        const auto found = object.find(key);
        if (found == object.end()) {
            return true;
        }
        if (!found->is_boolean()) {
            return Fail(Join(where, key), "expected true or false");
        }
        out = found->get<bool>();
        return true;
    }

    bool Status(const Json& value, const std::string& where, const Name* names,
                std::size_t nameCount, std::string_view kind, std::uint8_t& out) {
        if (value.is_string()) {
            const std::string& text = value.get_ref<const std::string&>();
            for (std::size_t i = 0; i < nameCount; ++i) {
                if (names[i].name == text) {
                    out = names[i].value;
                    return true;
                }
            }
            if (const auto number = ParseUnsignedText(text); number && *number <= 0xFF) {
                out = static_cast<std::uint8_t>(*number);
                return true;
            }
            std::string known;
            for (std::size_t i = 0; i < nameCount; ++i) {
                known += (i == 0 ? "" : ", ") + std::string(names[i].name);
            }
            return Fail(where, "unknown " + std::string(kind) + " status \"" + text +
                                   "\" (expected " + known + " or a number up to 255)");
        }
        const std::optional<std::uint64_t> number = AsUnsigned(value);
        if (!number || *number > 0xFF) {
            return Fail(where, "expected a status name or a number up to 255");
        }
        out = static_cast<std::uint8_t>(*number);
        return true;
    }

    bool ReadDevice(const Json& value, const std::string& where, VirtualDeviceConfig& device) {
        if (!CheckObject(value, where,
                         {"name", "serial", "vendorId", "productId", "interfaceNumber", "usagePage",
                          "usage", "reports", "descriptor", "components", "protocolFlags",
                          "componentCount", "behaviour", "schedule"})) {
            return false;
        }
        if (const auto name = value.find("name"); name != value.end()) {
            if (!name->is_string()) {
                return Fail(Join(where, "name"), "expected a string");
            }
            device.name = name->get<std::string>();
        }
        if (const auto serial = value.find("serial"); serial != value.end()) {
            if (!Serial(*serial, Join(where, "serial"), device.serial)) {
                return false;
            }
        }
        if (!Required(value, "vendorId", where) || !Required(value, "productId", where) ||
            !Number(value, "vendorId", where, 0, 0xFFFF, "expected a 16-bit number",
                    device.vendorId) ||
            !Number(value, "productId", where, 0, 0xFFFF, "expected a 16-bit number",
                    device.productId) ||
            !InterfaceNumber(value, where, device.interfaceNumber) ||
            !Number(value, "usagePage", where, 0, 0xFFFF, "expected a 16-bit number",
                    device.usagePage) ||
            !Number(value, "usage", where, 0, 0xFFFF, "expected a 16-bit number", device.usage) ||
            !Number(value, "protocolFlags", where, 0, 0xFF, "expected an 8-bit number",
                    device.protocolFlags)) {
            return false;
        }
        if (value.find("componentCount") != value.end()) {
            std::uint8_t count = 0;
            if (!Number(value, "componentCount", where, 0, 0xFF, "expected an 8-bit number",
                        count)) {
                return false;
            }
            device.componentCount = count;
        }
        if (const auto reports = value.find("reports"); reports != value.end()) {
            if (!ReadReports(*reports, Join(where, "reports"), device)) {
                return false;
            }
        }
        if (const auto descriptor = value.find("descriptor"); descriptor != value.end()) {
            if (!ReadDescriptor(*descriptor, Join(where, "descriptor"), device.descriptor)) {
                return false;
            }
        }
        if (const auto components = value.find("components"); components != value.end()) {
            if (!ReadComponents(*components, Join(where, "components"), device.components)) {
                return false;
            }
        }
        if (const auto behaviour = value.find("behaviour"); behaviour != value.end()) {
            if (!ReadBehaviour(*behaviour, Join(where, "behaviour"), device.behaviour)) {
                return false;
            }
        }
        if (const auto schedule = value.find("schedule"); schedule != value.end()) {
            if (!ReadSchedule(*schedule, Join(where, "schedule"), device.schedule)) {
                return false;
            }
        }
        return true;
    }

    // [{ "atMs": N, "action": "plug" | "unplug", "newNode": true }, ...], in
    // increasing time.
    bool ReadSchedule(const Json& value, const std::string& where,
                      std::vector<PresenceStep>& schedule) {
        if (!value.is_array()) {
            return Fail(where, "expected an array of steps");
        }
        for (std::size_t i = 0; i < value.size(); ++i) {
            const Json& item = value[i];
            const std::string at = where + "[" + std::to_string(i) + "]";
            PresenceStep step;
            if (!CheckObject(item, at, {"atMs", "action", "newNode"}) ||
                !Required(item, "atMs", at) || !Required(item, "action", at) ||
                !Number(item, "atMs", at, 0, 0xFFFFFFFFu, "expected a 32-bit number", step.atMs) ||
                !Flag(item, "newNode", at, step.newNode)) {
                return false;
            }
            const Json& action = item["action"];
            if (action == "plug") {
                step.plug = true;
            } else if (action == "unplug") {
                step.plug = false;
            } else {
                return Fail(Join(at, "action"), "expected \"plug\" or \"unplug\"");
            }
            if (step.newNode && !step.plug) {
                return Fail(Join(at, "newNode"), "only a plug comes back under a new node");
            }
            if (!schedule.empty() && step.atMs <= schedule.back().atMs) {
                return Fail(Join(at, "atMs"), "expected a time after the previous step's (" +
                                                  std::to_string(schedule.back().atMs) + ")");
            }
            schedule.push_back(step);
        }
        return true;
    }

    bool InterfaceNumber(const Json& object, const std::string& where, int& out) {
        const auto found = object.find("interfaceNumber");
        if (found == object.end()) {
            return true;
        }
        if (found->is_number_integer() && found->get<std::int64_t>() == -1) {
            out = -1;
            return true;
        }
        const std::optional<std::uint64_t> value = AsUnsigned(*found);
        if (!value || *value > 0xFF) {
            return Fail(Join(where, "interfaceNumber"), "expected a number from 0 to 255, or -1");
        }
        out = static_cast<int>(*value);
        return true;
    }

    bool ReadReports(const Json& value, const std::string& where, VirtualDeviceConfig& device) {
        if (!CheckObject(value, where,
                         {"version", "offer", "offerResponse", "content", "contentResponse"})) {
            return false;
        }
        const std::pair<std::string_view, ReportLayout*> layouts[] = {
            {"version", &device.version},
            {"offer", &device.offer},
            {"offerResponse", &device.offerResponse},
            {"content", &device.content},
            {"contentResponse", &device.contentResponse},
        };
        for (const auto& [key, layout] : layouts) {
            const auto found = value.find(key);
            if (found == value.end()) {
                continue;
            }
            const std::string at = Join(where, key);
            if (!CheckObject(*found, at, {"id", "usage", "size"}) ||
                !Number(*found, "id", at, 1, 0xFF, "expected a report ID from 1 to 255",
                        layout->id) ||
                !Number(*found, "usage", at, 0, 0xFFFF, "expected a 16-bit number",
                        layout->usage) ||
                !Number(*found, "size", at, 1, kMaxReportSize,
                        "expected a size from 1 to " + std::to_string(kMaxReportSize),
                        layout->size)) {
                return false;
            }
        }
        // The device tells its reports apart by ID alone.
        if (device.offer.id == device.content.id) {
            return Fail(where, "offer and content share the report ID " + Hex2(device.offer.id));
        }
        if (device.offerResponse.id == device.contentResponse.id) {
            return Fail(where, "offerResponse and contentResponse share the report ID " +
                                   Hex2(device.offerResponse.id));
        }
        return true;
    }

    bool ReadDescriptor(const Json& value, const std::string& where,
                        std::vector<std::uint8_t>& out) {
        if (!value.is_string()) {
            return Fail(where, "expected a string of hex bytes");
        }
        const std::string& text = value.get_ref<const std::string&>();
        std::vector<std::uint8_t> bytes;
        std::size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == ' ' || c == ',' || c == '\t' || c == '\n' || c == '\r') {
                ++i;
                continue;
            }
            std::size_t end = i;
            while (end < text.size() && text[end] != ' ' && text[end] != ',' && text[end] != '\t' &&
                   text[end] != '\n' && text[end] != '\r') {
                ++end;
            }
            std::string_view token(text.data() + i, end - i);
            if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
                token.remove_prefix(2);
            }
            if (token.size() % 2 != 0) {
                return Fail(where, "odd number of hex digits at character " + std::to_string(i));
            }
            for (std::size_t k = 0; k < token.size(); k += 2) {
                const auto byte = ParseUnsignedText("0x" + std::string(token.substr(k, 2)));
                if (!byte) {
                    return Fail(where, "not a hex byte: \"" + std::string(token.substr(k, 2)) +
                                           "\" at character " + std::to_string(i + k));
                }
                bytes.push_back(static_cast<std::uint8_t>(*byte));
            }
            i = end;
        }
        if (bytes.empty()) {
            return Fail(where, "empty descriptor");
        }
        std::string parseError;
        if (ParseReportDescriptor(bytes.data(), bytes.size(), parseError).empty()) {
            return Fail(where, "not a usable report descriptor: " + parseError);
        }
        out = std::move(bytes);
        return true;
    }

    bool ReadComponents(const Json& value, const std::string& where,
                        std::vector<ComponentConfig>& out) {
        if (!value.is_array()) {
            return Fail(where, "expected an array of components");
        }
        std::set<std::uint8_t> seen;
        for (std::size_t i = 0; i < value.size(); ++i) {
            const std::string at = where + "[" + std::to_string(i) + "]";
            const Json& item = value[i];
            ComponentConfig component;
            if (!CheckObject(item, at, {"id", "bank", "budRole", "version", "extra"}) ||
                !Required(item, "id", at) ||
                !Number(item, "id", at, 0, 0xFF, "expected an 8-bit number", component.id) ||
                !Number(item, "bank", at, 0, 3, "expected a number from 0 to 3", component.bank) ||
                !Number(item, "budRole", at, 0, 3, "expected a number from 0 to 3",
                        component.budRole) ||
                !Number(item, "version", at, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                        component.version) ||
                !Number(item, "extra", at, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                        component.extra)) {
                return false;
            }
            if (!seen.insert(component.id).second) {
                return Fail(Join(at, "id"), "component " + Hex2(component.id) + " appears twice");
            }
            out.push_back(component);
        }
        return true;
    }

    bool ReadOfferAnswer(const Json& value, const std::string& where, OfferAnswer& answer) {
        if (!value.is_object()) {
            return Status(value, where, kOfferStatusNames, std::size(kOfferStatusNames), "offer",
                          answer.status);
        }
        if (!CheckObject(value, where, {"status", "rejectReason", "delayMs", "silent"})) {
            return false;
        }
        if (const auto status = value.find("status"); status != value.end()) {
            if (!Status(*status, Join(where, "status"), kOfferStatusNames,
                        std::size(kOfferStatusNames), "offer", answer.status)) {
                return false;
            }
        }
        return Number(value, "rejectReason", where, 0, 0xFF, "expected an 8-bit number",
                      answer.rejectReason) &&
               Number(value, "delayMs", where, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                      answer.delayMs) &&
               Flag(value, "silent", where, answer.silent);
    }

    bool ReadContentRule(const Json& value, const std::string& where, ContentRule& rule) {
        if (!CheckObject(value, where,
                         {"block", "times", "status", "sequence", "silent", "delayMs", "unplug",
                          "discard"}) ||
            !Required(value, "block", where) ||
            !Number(value, "block", where, 0, 0xFFFF, "expected a 16-bit number", rule.block) ||
            !Number(value, "times", where, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                    rule.times) ||
            !Number(value, "delayMs", where, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                    rule.delayMs) ||
            !Flag(value, "silent", where, rule.silent) ||
            !Flag(value, "unplug", where, rule.unplug)) {
            return false;
        }
        if (const auto status = value.find("status"); status != value.end()) {
            if (!Status(*status, Join(where, "status"), kContentStatusNames,
                        std::size(kContentStatusNames), "content", rule.status)) {
                return false;
            }
        }
        if (value.find("sequence") != value.end()) {
            std::uint16_t sequence = 0;
            if (!Number(value, "sequence", where, 0, 0xFFFF, "expected a 16-bit number",
                        sequence)) {
                return false;
            }
            rule.sequence = sequence;
        }
        return ReadFaultyContentKeys(value, where, rule);
    }

    // Keys of rules that make the device misbehave as faulty firmware would.
    bool ReadFaultyContentKeys(const Json& value, const std::string& where, ContentRule& rule) {
        return Flag(value, "discard", where, rule.discard);
    }

    bool Serial(const Json& value, const std::string& where, std::string& out) {
        if (!value.is_string() || value.get<std::string>().size() > kMaxSerialBytes) {
            return Fail(where, "expected a string of at most 126 bytes");
        }
        out = value.get<std::string>();
        return true;
    }

    // "reappearAsNewNode": true, or { "delayMs": N, "serial": "..." }.
    bool ReadReappearance(const Json& value, const std::string& where, DeviceBehaviour& behaviour) {
        const auto found = value.find("reappearAsNewNode");
        if (found == value.end()) {
            return true;
        }
        const std::string at = Join(where, "reappearAsNewNode");
        DeviceBehaviour::Reappearance reappear;
        if (found->is_boolean()) {
            if (!found->get<bool>()) {
                return true;
            }
        } else if (!found->is_object()) {
            return Fail(at, "expected true, false or an object");
        } else if (!CheckObject(*found, at, {"delayMs", "serial"}) ||
                   !Number(*found, "delayMs", at, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                           reappear.delayMs)) {
            return false;
        } else if (const auto serial = found->find("serial"); serial != found->end()) {
            if (!Serial(*serial, Join(at, "serial"), reappear.serial.emplace())) {
                return false;
            }
        }
        if (behaviour.unplugOnComplete) {
            return Fail(at, "excludes unplugOnComplete (the device either comes back or not)");
        }
        behaviour.reappearAsNewNode = reappear;
        return true;
    }

    bool ReadBehaviour(const Json& value, const std::string& where, DeviceBehaviour& behaviour) {
        if (!CheckObject(value, where,
                         {"offerAnswers", "contentScript", "unplugAtBlock", "silent", "latencyUs",
                          "versionFailures", "versionAnswer", "applyVersionOnComplete",
                          "unplugOnComplete", "reappearAsNewNode", "faults"}) ||
            !Flag(value, "silent", where, behaviour.silent) ||
            !Flag(value, "applyVersionOnComplete", where, behaviour.applyVersionOnComplete) ||
            !Flag(value, "unplugOnComplete", where, behaviour.unplugOnComplete) ||
            !Number(value, "latencyUs", where, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                    behaviour.latencyUs) ||
            !Number(value, "versionFailures", where, 0, 0xFFFFFFFFu, "expected a 32-bit number",
                    behaviour.versionFailures)) {
            return false;
        }
        if (const auto answers = value.find("offerAnswers"); answers != value.end()) {
            const std::string at = Join(where, "offerAnswers");
            if (!answers->is_array()) {
                return Fail(at, "expected an array");
            }
            for (std::size_t i = 0; i < answers->size(); ++i) {
                OfferAnswer answer;
                if (!ReadOfferAnswer((*answers)[i], at + "[" + std::to_string(i) + "]", answer)) {
                    return false;
                }
                behaviour.offerAnswers.push_back(answer);
            }
        }
        if (const auto script = value.find("contentScript"); script != value.end()) {
            const std::string at = Join(where, "contentScript");
            if (!script->is_array()) {
                return Fail(at, "expected an array");
            }
            for (std::size_t i = 0; i < script->size(); ++i) {
                ContentRule rule;
                if (!ReadContentRule((*script)[i], at + "[" + std::to_string(i) + "]", rule)) {
                    return false;
                }
                behaviour.contentScript.push_back(rule);
            }
        }
        if (value.find("unplugAtBlock") != value.end()) {
            ContentRule rule;
            rule.unplug = true;
            if (!Number(value, "unplugAtBlock", where, 0, 0xFFFF, "expected a 16-bit number",
                        rule.block)) {
                return false;
            }
            behaviour.contentScript.push_back(rule);
        }
        if (const auto answer = value.find("versionAnswer"); answer != value.end()) {
            if (*answer == "ok") {
                behaviour.versionAnswer = VersionAnswer::Ok;
            } else if (*answer == "zero") {
                behaviour.versionAnswer = VersionAnswer::Zero;
            } else {
                return Fail(Join(where, "versionAnswer"), "expected \"ok\" or \"zero\"");
            }
        }
        if (!ReadReappearance(value, where, behaviour)) {
            return false;
        }
        if (const auto faults = value.find("faults"); faults != value.end()) {
            const std::string at = Join(where, "faults");
            if (!CheckObject(*faults, at, {"open", "descriptor", "writes"}) ||
                !Flag(*faults, "open", at, behaviour.faults.open) ||
                !Flag(*faults, "descriptor", at, behaviour.faults.descriptor) ||
                !Flag(*faults, "writes", at, behaviour.faults.writes)) {
                return false;
            }
        }
        return true;
    }

    std::string error_;
};

// Only a regular file is read. A FIFO, a device node or a directory named by
// mistake would block the program or feed it without end, so the file is
// opened without waiting (a FIFO's open would wait for a writer) and its
// type and size are taken from the opened file before anything is read.
bool ReadWholeFile(const std::string& path, std::string& text, std::string& problem) {
#ifdef _WIN32
    // A pipe or device name would open; it is refused by its name first.
    std::error_code ec;
    const std::filesystem::file_status named = std::filesystem::status(path, ec);
    if (std::filesystem::exists(named) && !std::filesystem::is_regular_file(named)) {
        problem = "not a regular file";
        return false;
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        problem = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    struct _stat64 status {};
    const bool statted = _fstat64(_fileno(file), &status) == 0;
    const bool regular = statted && (status.st_mode & _S_IFMT) == _S_IFREG;
    const std::uint64_t size = statted ? static_cast<std::uint64_t>(status.st_size) : 0;
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        problem = std::string("cannot open the file: ") + std::strerror(errno);
        return false;
    }
    struct stat status {};
    const bool statted = ::fstat(fd, &status) == 0;
    const bool regular = statted && S_ISREG(status.st_mode);
    const std::uint64_t size = statted ? static_cast<std::uint64_t>(status.st_size) : 0;
    std::FILE* file = regular ? ::fdopen(fd, "rb") : nullptr;
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        problem = !statted   ? std::string("cannot read the file: ") + std::strerror(error)
                  : !regular ? std::string("not a regular file")
                             : std::string("cannot open the file: ") + std::strerror(error);
        return false;
    }
#endif
    if (!regular) {
        std::fclose(file);
        problem = "not a regular file";
        return false;
    }
    if (size > kMaxFileBytes) {
        std::fclose(file);
        problem = "the file is larger than 16 MiB";
        return false;
    }
    text.clear();
    char chunk[65536];
    bool ok = true;
    for (;;) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file);
        text.append(chunk, got);
        // The size can grow after the look; the cap holds for what is read.
        if (text.size() > kMaxFileBytes) {
            problem = "the file is larger than 16 MiB";
            ok = false;
            break;
        }
        if (got < sizeof chunk) {
            if (std::ferror(file) != 0) {
                problem = std::string("cannot read the file: ") + std::strerror(errno);
                ok = false;
            }
            break;
        }
    }
    std::fclose(file);
    return ok;
}

// Thrown from inside the JSON parser when an object names a key twice; the
// parser would otherwise keep the last value and drop the first unseen.
struct DuplicateKey {
    std::string where;
};

// Follows the parser through the document so that a repeated key can be
// named by its place, in the form the reader's messages use.
class DuplicateKeyCheck {
  public:
    bool operator()(int /*depth*/, Json::parse_event_t event, Json& parsed) {
        switch (event) {
            case Json::parse_event_t::object_start:
            case Json::parse_event_t::array_start:
                frames_.push_back({event == Json::parse_event_t::array_start, 0, {}, {}});
                break;
            case Json::parse_event_t::key: {
                Frame& frame = frames_.back();
                frame.key = parsed.get<std::string>();
                // Comment keys are ignored, so a repeated one loses nothing.
                const bool comment = !frame.key.empty() && frame.key[0] == '_';
                if (!frame.keys.insert(frame.key).second && !comment) {
                    throw DuplicateKey{Where()};
                }
                break;
            }
            case Json::parse_event_t::object_end:
            case Json::parse_event_t::array_end:
                frames_.pop_back();
                CountElement();
                break;
            case Json::parse_event_t::value:
                CountElement();
                break;
        }
        return true;
    }

  private:
    struct Frame {
        bool array = false;
        std::size_t index = 0;  // elements done so far, in an array
        std::string key;        // the key being read, in an object
        std::set<std::string> keys;
    };

    void CountElement() {
        if (!frames_.empty() && frames_.back().array) {
            ++frames_.back().index;
        }
    }

    std::string Where() const {
        std::string where;
        for (const Frame& frame : frames_) {
            if (frame.array) {
                where += "[" + std::to_string(frame.index) + "]";
            } else {
                where += (where.empty() ? "" : ".") + frame.key;
            }
        }
        return where;
    }

    std::vector<Frame> frames_;
};

}  // namespace

VirtualDeviceConfig DefaultEarbud() {
    VirtualDeviceConfig device;
    device.name = "Zelk virtual earbud";
    device.vendorId = 0x320F;
    device.productId = 0x5055;
    device.interfaceNumber = 2;
    device.usagePage = 0xFF0B;
    device.usage = 0x0104;
    ComponentConfig component;
    component.id = 0x0F;
    component.bank = 0;
    component.budRole = 1;
    component.version = 0x10003001;
    device.components.push_back(component);
    return device;
}

bool ParseVirtualDevices(std::string_view text, std::string_view origin,
                         std::vector<VirtualDeviceConfig>& devices, std::string& error) {
    const std::string prefix = std::string(origin) + ": ";
    try {
        const Json root = Json::parse(text.begin(), text.end(), DuplicateKeyCheck{}, true, true);
        DeviceFileReader reader;
        if (!reader.Read(root, devices)) {
            error = prefix + reader.Error();
            return false;
        }
        return true;
    } catch (const DuplicateKey& duplicate) {
        error = prefix + duplicate.where + ": appears twice in its object";
    } catch (const Json::parse_error& e) {
        // Drop the library's "[json.exception.parse_error.101] " tag.
        std::string what = e.what();
        if (const auto tag = what.find("] "); tag != std::string::npos) {
            what.erase(0, tag + 2);
        }
        error = prefix + "not valid JSON: " + what;
    } catch (const std::exception& e) {
        error = prefix + "cannot read the devices: " + e.what();
    }
    return false;
}

bool LoadVirtualDevices(std::string_view source, std::vector<VirtualDeviceConfig>& devices,
                        std::string& error) {
    if (source == "default") {
        devices = {DefaultEarbud()};
        return true;
    }
    const std::string path(source);
    std::string text;
    std::string problem;
    if (!ReadWholeFile(path, text, problem)) {
        error = path + ": " + problem;
        return false;
    }
    return ParseVirtualDevices(text, path, devices, error);
}

}  // namespace zelk::hid::virt
