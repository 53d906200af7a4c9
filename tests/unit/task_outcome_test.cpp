// What a device's boxes mean for a script: the failure's code apart from the warnings, and a code
// for every box a task can show.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

#include "cli/task_outcome.h"
#include "platform/utf8.h"

namespace {

using orvel::cli::Box;
using orvel::cli::JudgeBoxes;

const Box kNoAnswer{L"Ошибка обмена данными.", L"Нет ответа от прибора!\nПроверьте тампер."};
const Box kUnknownLayout{L"Ошибка.",
                         L"Нет данных о конфигурации прибора, обратитесь к разработчику."};
const Box kRetry{L"Внимание!", L"Попытаться выйти на связь с прибором?\n\n(P.S. ...)"};
const Box kRestart{L"Внимание!", L"Необходимо перезагрузить прибор"};
const Box kVerify{L"Ошибка.",
                  L"Проверка записи: прочитанное из прибора не совпадает с записанным.\n"};
const Box kStrange{L"Ошибка.", L"что-то новое"};
const Box kSendFailed{L"Ошибка отправки пакета.", L"Network is unreachable"};

TEST(TaskOutcome, TheFailureIsTheLastBoxOfAFailureKindAndTheRestAreWarnings) {
  struct Case {
    std::vector<Box> boxes;
    bool succeeded;
    std::optional<std::string> error;
    std::vector<std::string> warnings;
  };
  const Case cases[] = {
      // A 1.05 or 1.10 device read with the newer layout: ok, with a warning, no failure.
      {{kUnknownLayout}, true, std::nullopt, {"config-unknown"}},
      {{kUnknownLayout, kNoAnswer, kRetry}, false, "no-answer", {"config-unknown"}},
      // A no-answer that a retry got over, then a read-back that differs.
      {{kNoAnswer, kRetry, kVerify}, false, "verify", {"no-answer"}},
      // The update goes on without the restart's acknowledgement; the restart command fails on it.
      {{kRestart}, true, std::nullopt, {"restart"}},
      {{kRestart}, false, "restart", {}},
      {{kStrange}, false, "internal", {}},
      // A link that fails explains the silence after it.
      {{kSendFailed, kNoAnswer}, false, "link", {"no-answer"}},
      {{kStrange}, true, std::nullopt, {"other"}},
      {{}, false, "internal", {}},
  };
  for (const Case& c : cases) {
    const auto outcome = JudgeBoxes(c.boxes, c.succeeded);
    EXPECT_EQ(outcome.error, c.error);
    std::vector<std::string> warnings;
    for (const auto& warning : outcome.warnings) warnings.push_back(warning.code);
    EXPECT_EQ(warnings, c.warnings) << (c.error ? *c.error : "ok");
    EXPECT_EQ(outcome.message.empty(), !c.error || c.boxes.empty());
  }
  EXPECT_EQ(JudgeBoxes({kNoAnswer}, false).message,
            "Ошибка обмена данными.: Нет ответа от прибора!\nПроверьте тампер.");
}

// Every box text in the sources has its code: a new box without one fails here.
TEST(TaskOutcome, EveryBoxOfTheSourcesHasACode) {
  const std::regex box(
      R"re((?:CMBoxExeption|ShowMessage)\((?:\s*(?:nullptr|m_hOwner|session\.m_hOwner),)?\s*L"([^"]*)")re");
  std::size_t found = 0;
  for (const char* folder : {"session", "firmware", "device", "cli", "common"}) {
    for (const auto& entry :
         std::filesystem::directory_iterator(std::string(ORVEL_SOURCE_DIR) + "/" + folder)) {
      std::ifstream file(entry.path());
      const std::string source((std::istreambuf_iterator<char>(file)), {});
      for (std::sregex_iterator it(source.begin(), source.end(), box), end; it != end; ++it) {
        const std::string text = (*it)[1];
        if (text.empty() || text == "Ошибка." || text == "Внимание!") continue;  // captions
        ++found;
        EXPECT_TRUE(orvel::cli::BoxCode({L"", orvel::FromUtf8(text)}).has_value())
            << text << " in " << entry.path();
      }
    }
  }
  EXPECT_GE(found, 20u);
}

// Every code orvelctl can print is in docs/json.md, in a table row of its own.
TEST(TaskOutcome, EveryCodeIsDocumented) {
  std::ifstream file(std::string(ORVEL_SOURCE_DIR) + "/docs/json.md");
  const std::string doc((std::istreambuf_iterator<char>(file)), {});
  for (const auto& codes : {orvel::cli::FailureCodes(), orvel::cli::WarningCodes()}) {
    for (const std::string_view code : codes) {
      EXPECT_NE(doc.find("\n| `" + std::string(code) + "` |"), std::string::npos) << code;
    }
  }
}

}  // namespace
