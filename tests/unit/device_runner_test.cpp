// Running a task on many devices: how many run at once, a failure kept to its device, and the
// results as a table and as JSON.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <thread>

#include "cli/device_runner.h"
#include "cli/task_log.h"
#include "support/scripted_clock.h"

namespace {

using orvel::Endpoint;
using orvel::cli::DeviceResult;

std::vector<Endpoint> Devices(std::size_t count) {
  std::vector<Endpoint> devices;
  for (std::size_t i = 0; i < count; ++i) {
    devices.push_back({0x0A000005 + static_cast<std::uint32_t>(i), 40000});
  }
  return devices;
}

TEST(DeviceRunner, RunsAtMostJobsAtOnceAndKeepsAFailureToItsDevice) {
  orvel::SteadyClock clock;
  std::atomic<int> running{0}, most{0};
  const auto devices = Devices(10);
  const auto results =
      orvel::cli::RunOnDevices(devices, 3, clock, [&](const Endpoint& device, std::size_t index) {
        const int now = ++running;
        for (int seen = most; now > seen && !most.compare_exchange_weak(seen, now);) {
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        --running;
        EXPECT_EQ(device, devices[index]);
        if (index == 4) throw std::runtime_error("link lost");
        DeviceResult result;
        result.status = index == 7 ? 1 : 0;
        result.requests = index;
        return result;
      });
  EXPECT_EQ(most, 3);
  ASSERT_EQ(results.size(), devices.size());
  for (std::size_t i = 0; i < results.size(); ++i) {
    EXPECT_EQ(results[i].device, devices[i]) << i;
    EXPECT_EQ(results[i].status, i == 4 || i == 7 ? 1 : 0) << i;
    EXPECT_GE(results[i].seconds, 0.015) << i;
  }
  EXPECT_EQ(results[4].message, "link lost");
  EXPECT_EQ(results[9].requests, 9u);
  EXPECT_EQ(orvel::cli::OverallStatus(results), 1);
  EXPECT_EQ(orvel::cli::OverallStatus({results[0], results[1]}), 0);
}

std::vector<DeviceResult> TwoResults() {
  DeviceResult ok;
  ok.device = {0x0A000005, 40000};
  ok.version = DeviceVersion{0, 111};
  ok.status = 0;
  ok.result = orvel::cli::TaskResult::Ok;
  ok.seconds = 3.24;
  ok.requests = 962;
  ok.warnings = {{"config-unknown", "Ошибка.: Нет данных"}, {"restart", "Внимание!: x"}};
  DeviceResult failed;
  failed.device = {0x0A000009, 4001};
  failed.error = "no-answer";
  failed.message = "Ошибка обмена данными.: Нет ответа \"от\"\nприбора\\";
  failed.seconds = 40.05;
  failed.requests = 27;
  failed.resends = 26;
  return {ok, failed};
}

TEST(DeviceRunner, ResultsAsATableAndAsOneJsonDocument) {
  std::vector<DeviceResult> results = TwoResults();
  results[0].versionAfter = DeviceVersion{0, 112};
  EXPECT_EQ(
      orvel::cli::ResultsTable(results),
      "device                 version  version after  result       error              seconds  "
      "requests  resends  message\n"
      "10.0.0.5:40000         1.11     1.12           ok           -                      3.2  "
      "     962        0  warnings: config-unknown, restart\n"
      "10.0.0.9:4001          -        -              failed       no-answer             40.0  "
      "      27       26  Ошибка обмена данными.: Нет ответа \"от\" прибора\\\n");
  EXPECT_EQ(orvel::cli::ResultsJson(results),
            "{\"devices\":[{\"device\":\"10.0.0.5:40000\",\"version\":\"1.11\",\"kind\":0,"
            "\"version_after\":\"1.12\",\"result\":\"ok\",\"error\":null,\"message\":\"\","
            "\"warnings\":[{\"code\":\"config-unknown\",\"message\":\"Ошибка.: Нет данных\"},"
            "{\"code\":\"restart\",\"message\":\"Внимание!: x\"}],\"seconds\":3.2,"
            "\"requests\":962,\"resends\":0},"
            "{\"device\":\"10.0.0.9:4001\",\"version\":null,\"kind\":null,\"version_after\":null,"
            "\"result\":\"failed\",\"error\":\"no-answer\",\"message\":\"Ошибка обмена данными.: "
            "Нет ответа \\\"от\\\"\\nприбора\\\\\",\"warnings\":[],"
            "\"seconds\":40.0,\"requests\":27,\"resends\":26}]}\n");
  EXPECT_EQ(orvel::cli::ResultsJson({}), "{\"devices\":[]}\n");
}

// A box may quote a file name with any bytes: every document stays one line of valid UTF-8 JSON,
// control characters escaped (\u001b in lower case), bytes that are no UTF-8 read as U+FFFD.
TEST(DeviceRunner, EveryJsonDocumentEscapesWhatATextHolds) {
  const std::string text = "cfg\x1b[2J\t\"\\\xff\xe2\x82\n.bin";
  const std::string read = "cfg\x1b[2J\t\"\\\uFFFD\uFFFD\n.bin";
  std::vector<DeviceResult> results = TwoResults();
  results[1].message = text;
  orvel::cli::TaskLogEntry entry;
  entry.file = text;
  entry.message = text;
  for (const std::string& document :
       {orvel::cli::ResultsJson(results), orvel::cli::TaskLogLine(entry) + "\n"}) {
    SCOPED_TRACE(document);
    EXPECT_EQ(
        std::count_if(document.begin(), document.end(), [](char c) { return c >= 0 && c < 0x20; }),
        1);  // the line end
    EXPECT_NE(document.find("cfg\\u001b[2J\\t\\\"\\\\\xEF\xBF\xBD"), std::string::npos);
    const auto json = nlohmann::json::parse(document);
    const auto& object = json.contains("devices") ? json["devices"][1] : json;
    EXPECT_EQ(object["message"], read);
    EXPECT_EQ(object.value("file", read), read);
  }
}

}  // namespace
