// Every JSON document of orvelctl, one line each, keys in the order they are set: the results of
// a run (cli/device_runner.h), of scan and interfaces (cli/scan.h), the task log (cli/task_log.h).
// Texts are UTF-8 as given, control characters escaped, and bytes that are not UTF-8 (a file name
// may hold any) replaced by U+FFFD.
#include <charconv>
#include <ctime>
#include <nlohmann/json.hpp>

#include "cli/device_runner.h"
#include "cli/scan.h"
#include "cli/task_log.h"
#include "common/address_list.h"
#include "platform/clock.h"

namespace orvel::cli {
namespace {

using Json = nlohmann::ordered_json;  // keys in the order they are set

std::string Text(const Json& document) {
  return document.dump(-1, ' ', false, Json::error_handler_t::replace);
}

Json Version(const std::optional<DeviceVersion>& version) {
  return version ? Json(VersionText(*version)) : Json();
}

// The value printf's "%.*f" shows; written back it is its shortest text (3.2, 40.0).
double Rounded(double value, int decimals) {
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
  double rounded = value;
  std::from_chars(text, end, rounded);
  return rounded;
}

// A device's object in the results and the scan, up to its own figures. More keys about the device
// come between its kind and its result.
Json DeviceObject(const Endpoint& device, const std::optional<DeviceVersion>& version,
                  TaskResult result, const std::string& message,
                  const Json& more = Json::object()) {
  Json object;
  object["device"] = EndpointText(device);
  object["version"] = Version(version);
  object["kind"] = version ? Json(version->kind) : Json();
  for (const auto& [key, value] : more.items()) object[key] = value;
  object["result"] = ResultWord(result);
  object["message"] = message;
  return object;
}

// {"<key>":[...]} and its line end, one element built from each item.
template <typename Item, typename Build>
std::string Document(const char* key, const std::vector<Item>& items, const Build& build) {
  Json elements = Json::array();
  for (const Item& item : items) elements.push_back(build(item));
  return Text({{key, elements}}) + "\n";
}

std::string UtcTime(std::time_t time) {
  const std::tm utc = UtcCalendar(time);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

Json OrNull(const std::optional<std::string>& text) { return text ? Json(*text) : Json(); }

Json Warnings(const std::vector<Warning>& warnings) {
  Json list = Json::array();
  for (const Warning& w : warnings) list.push_back({{"code", w.code}, {"message", w.message}});
  return list;
}

}  // namespace

std::string ResultsJson(const std::vector<DeviceResult>& results) {
  return Document("devices", results, [](const DeviceResult& r) {
    Json object = DeviceObject(r.device, r.version, r.result, r.message,
                               {{"version_after", Version(r.versionAfter)}});
    object.erase("message");  // after the error
    object["error"] = r.error ? Json(*r.error) : Json();
    object["message"] = r.message;
    object["warnings"] = Warnings(r.warnings);
    object["seconds"] = Rounded(r.seconds, 1);
    object["requests"] = r.requests;
    object["resends"] = r.resends;
    return object;
  });
}

std::string ScanJson(const std::vector<FoundDevice>& found) {
  return Document("devices", found, [](const FoundDevice& f) {
    Json object =
        DeviceObject(f.device, f.version, TaskResult::Ok, f.version ? "" : "no version answer");
    object["rtt_ms"] = Rounded(f.rttMs, 2);
    return object;
  });
}

std::string InterfacesJson(const std::vector<std::uint32_t>& interfaces) {
  return Document("interfaces", interfaces, FormatIPv4);
}

std::string TaskLogLine(const TaskLogEntry& e) {
  Json line;
  line["time"] = UtcTime(e.time);
  line["tool"] = e.tool;
  line["device"] = FormatIPv4(e.device);
  line["port"] = e.port;
  line["deviceVersion"] = Version(e.deviceVersion);
  line["task"] = e.task;
  line["file"] = OrNull(e.file);
  line["sha256"] = OrNull(e.sha256);
  line["requests"] = e.requests;
  line["resends"] = e.resends;
  line["result"] = ResultWord(e.result);
  line["error"] = OrNull(e.error);
  line["message"] = e.message;
  line["warnings"] = Warnings(e.warnings);
  return Text(line);
}

}  // namespace orvel::cli
