#include "cli/task_log.h"

#include <cstdio>

#include "common/address_list.h"
#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/utf8.h"

namespace orvel::cli {

std::string JsonString(const std::string& text) {
  const std::string utf8 = ToUtf8(FromUtf8(text));
  std::string json = "\"";
  for (const char c : utf8) {
    switch (c) {
      case '"':
        json += "\\\"";
        break;
      case '\\':
        json += "\\\\";
        break;
      case '\n':
        json += "\\n";
        break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          char escaped[8];
          std::snprintf(escaped, sizeof escaped, "\\u%04x",
                        unsigned{static_cast<unsigned char>(c)});
          json += escaped;
        } else {
          json += c;
        }
    }
  }
  return json + "\"";
}

namespace {

std::string Json(const std::string& text) { return JsonString(text); }
std::string Json(const std::optional<std::string>& text) { return text ? Json(*text) : "null"; }

std::string UtcTime(std::time_t time) {
  const std::tm utc = UtcCalendar(time);
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

}  // namespace

std::string TaskLogLine(const TaskLogEntry& e) {
  std::optional<std::string> version;
  if (e.deviceVersion) {
    char text[32];
    std::snprintf(text, sizeof text, "%d.%02d", e.deviceVersion->Major(), e.deviceVersion->Minor());
    version = text;
  }
  std::string line = "{\"time\":" + Json(UtcTime(e.time));
  line += ",\"tool\":" + Json(e.tool);
  line += ",\"device\":" + Json(orvel::FormatIPv4(e.device));
  line += ",\"port\":" + std::to_string(e.port);
  line += ",\"deviceVersion\":" + Json(version);
  line += ",\"task\":" + Json(e.task);
  line += ",\"file\":" + Json(e.file);
  line += ",\"sha256\":" + Json(e.sha256);
  line += ",\"requests\":" + std::to_string(e.requests);
  line += ",\"resends\":" + std::to_string(e.resends);
  line += ",\"result\":" + Json(std::string(e.ok ? "ok" : "failed"));
  line += ",\"message\":" + Json(e.message);
  return line + "}";
}

bool AppendTaskLog(const std::wstring& path, const std::string& line) {
  FileHandle file = OpenFile(path, L"ab");
  if (!file) return false;
  const bool written = std::fprintf(file.get(), "%s\n", line.c_str()) >= 0;
  return std::fclose(file.release()) == 0 && written;
}

}  // namespace orvel::cli
