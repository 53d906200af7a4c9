#pragma once
// Reads orvelctl's --json results document in the integration tests.

#include <gtest/gtest.h>

#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "support/run_command.h"

namespace orvel::test {

// The objects of a JSON results document by their address ("127.0.0.2"); a document that does not
// parse is a test failure, and no device.
inline std::map<std::string, nlohmann::json> ByAddress(const CommandResult& result) {
  std::map<std::string, nlohmann::json> devices;
  try {
    const nlohmann::json document = nlohmann::json::parse(result.out);
    for (const nlohmann::json& device : document.at("devices")) {
      const std::string endpoint = device.at("device");
      devices[endpoint.substr(0, endpoint.find(':'))] = device;
    }
  } catch (const nlohmann::json::exception& e) {
    ADD_FAILURE() << e.what() << "\n" << result.out << result.err;
  }
  return devices;
}

}  // namespace orvel::test
