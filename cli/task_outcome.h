#pragma once
// What a device's boxes mean for a script: the code of the failure, the message, and the warnings
// apart from it. The boxes keep the dialog's texts; the codes are orvelctl's own, all listed here
// and in docs/json.md (a test holds the two together):
//
//   failures                                       warnings (the task still ended ok)
//   no-answer       no answer within the limit     config-unknown  no configuration layout known
//   version-silent  no answer to the version ask                   for the device's version
//   file-open       a file cannot be opened/read   config-kept     the update did not write the
//   file-write      a file cannot be written                       configuration back
//   file-size       a file has the wrong size      restart         the restart was not
//   package         a damaged update package                       acknowledged
//   downgrade       the package is older           unfinished-update  an earlier update had not
//   version-after   another version after update                   ended; its backup was used
//   verify          the read-back differs          version-silent  older firmware: no version
//   restart         the restart not acknowledged                   answer after the update
//   link            the network link failed
//   port-in-use     the port is another program's
//   interrupted     stopped by a signal
//   internal        an unexpected failure of the tool
//   canary, max-failed (devices not started: why)
//
// A box the tables do not know is a failure "internal" when the task failed, a warning "other"
// when it ended ok.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace orvel::cli {

// Every code a document may hold, failures first.
const std::vector<std::string_view>& FailureCodes();
const std::vector<std::string_view>& WarningCodes();

struct Box {
  std::wstring caption;
  std::wstring text;
};

struct Warning {
  std::string code;
  std::string message;
};

struct Outcome {
  std::optional<std::string> error;  // the failure's code; none when the task ended ok
  std::string message;               // the failure's box, "caption: text"
  std::vector<Warning> warnings;
};

// The code of one box (by the start of its text): {code, true} for a warning kind, {code, false}
// for a failure kind, nothing for a box the tables do not know. Questions ("try again?") are
// neither: {"", true}.
std::optional<std::pair<std::string, bool>> BoxCode(const Box& box);

// The outcome of a task from its boxes, in the order shown, and whether it ended ok. The failure
// is the last box of the link (link, port-in-use), else the last that is no warning kind; the
// other boxes are warnings.
Outcome JudgeBoxes(const std::vector<Box>& boxes, bool succeeded);

}  // namespace orvel::cli
