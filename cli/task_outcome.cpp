#include "cli/task_outcome.h"

#include <algorithm>

#include "platform/utf8.h"

namespace orvel::cli {
namespace {

struct Kind {
  std::wstring_view start;  // how the box's text begins
  std::string_view code;
  bool warning;  // a warning kind: a failure only when the task failed and nothing else says why
};

// Every box a task of orvelctl shows, by the start of its text; the more particular first.
constexpr Kind kKinds[] = {
    {L"Нет ответа от прибора на запрос версии.", "version-silent", false},
    {L"Прибор не ответил на запрос версии после обновления", "version-silent", true},
    {L"Нет ответа от прибора!", "no-answer", false},
    {L"Не удается открыть файл", "file-open", false},
    {L"Не удаётся прочесть файл", "file-open", false},
    {L"Не удаётся записать файл", "file-write", false},
    {L"Не удаётся сохранить предыдущую копию", "file-write", false},
    {L"Не получется создать дирректорию", "file-write", false},
    {L"Размер файла", "file-size", false},
    {L"Файл обновления - конорольная сумма", "package", false},
    {L"Версия обновления ", "downgrade", false},
    {L"Прибор сообщает версию ", "version-after", false},
    {L"Проверка записи:", "verify", false},
    {L"Необходимо перезагрузить прибор", "restart", true},
    {L"Выбранный порт используется другой программой.", "port-in-use", false},
    {L"Ошибка UDP", "link", false},
    {L"Ошибка инициализации подключения.", "link", false},
    {L"Предыдущее обновление прибора не завершено, но ", "unfinished-update", false},
    {L"Предыдущее обновление прибора не завершено. Будет записана", "kept-backup", true},
    {L"Нет данных о конфигурации прибора", "config-unknown", true},
    {L"Конфигурация не записана в прибор", "config-kept", true},
    {L"Ошибка потока:", "internal", false},
    {L"interrupted", "interrupted", false},
};

// The boxes of the link carry the system's own text: their captions tell them.
constexpr std::wstring_view kLinkCaptions[] = {
    L"Ошибка инициализации подключения.",
    L"Ошибка инициализации протокола UDP.",
    L"Ошибка отправки пакета.",
    L"Ошибка чтения пакета данных.",
    L"Ошибка проверки имеющихся данных для чтения из сокета.",
};

// Questions are neither failure nor warning: the box before them says what happened.
constexpr std::wstring_view kQuestions[] = {
    L"Попытаться выйти на связь с прибором?",
    L"Предыдущее обновление прибора не завершено: конфигурация не была записана",
};

std::string BoxMessage(const Box& box) { return ToUtf8(box.caption) + ": " + ToUtf8(box.text); }

}  // namespace

const std::vector<std::string_view>& FailureCodes() {
  static const std::vector<std::string_view> codes = [] {
    std::vector<std::string_view> list;
    for (const Kind& kind : kKinds) {
      if (std::find(list.begin(), list.end(), kind.code) == list.end()) list.push_back(kind.code);
    }
    list.insert(list.end(), {"canary", "max-failed"});
    return list;
  }();
  return codes;
}

const std::vector<std::string_view>& WarningCodes() {
  static const std::vector<std::string_view> codes = [] {
    std::vector<std::string_view> list = FailureCodes();
    list.push_back("other");
    return list;
  }();
  return codes;
}

std::optional<std::pair<std::string, bool>> BoxCode(const Box& box) {
  for (const std::wstring_view question : kQuestions) {
    if (box.text.starts_with(question)) return std::pair<std::string, bool>{"", true};
  }
  for (const Kind& kind : kKinds) {
    if (box.text.starts_with(kind.start)) return std::pair{std::string(kind.code), kind.warning};
  }
  for (const std::wstring_view caption : kLinkCaptions) {
    if (box.caption == caption) return std::pair<std::string, bool>{"link", false};
  }
  return std::nullopt;
}

Outcome JudgeBoxes(const std::vector<Box>& boxes, bool succeeded) {
  Outcome outcome;
  std::optional<std::size_t> failure;
  if (!succeeded) {
    // The last box of a failure kind, or one the tables do not know; else the last of a warning
    // kind (the restart command's "restart the device").
    std::optional<std::size_t> lastWarning;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const auto code = BoxCode(boxes[i]);
      if (code && code->first.empty()) continue;
      if (!code || !code->second) {
        failure = i;
      } else {
        lastWarning = i;
      }
    }
    if (!failure) failure = lastWarning;
    // A link that could not be opened or failed explains the silence that follows it.
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const auto code = BoxCode(boxes[i]);
      if (code && (code->first == "link" || code->first == "port-in-use")) failure = i;
    }
    outcome.error = "internal";
    if (failure) {
      const auto code = BoxCode(boxes[*failure]);
      if (code) outcome.error = code->first;
      outcome.message = BoxMessage(boxes[*failure]);
    }
  }
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    if (failure == i) continue;
    const auto code = BoxCode(boxes[i]);
    if (code && code->first.empty()) continue;
    outcome.warnings.push_back({code ? code->first : "other", BoxMessage(boxes[i])});
  }
  return outcome;
}

}  // namespace orvel::cli
