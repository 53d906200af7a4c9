// The console side of the desktop seam: what orvelctl prints and how it answers questions.

#include "cli/console_desktop.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace orvel {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

File Temporary(const std::string& content = {}) {
  File file(std::tmpfile());
  std::fwrite(content.data(), 1, content.size(), file.get());
  std::rewind(file.get());
  return file;
}

std::string Contents(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string text;
  char buffer[256];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  return text;
}

struct Console {
  explicit Console(ConsoleDesktop::Options options, const std::string& input = {})
      : err(Temporary()), in(Temporary(input)) {
    options.err = err.get();
    options.in = in.get();
    desktop = std::make_unique<ConsoleDesktop>(options);
  }
  std::string Printed() { return Contents(err.get()); }

  File err;
  File in;
  std::unique_ptr<ConsoleDesktop> desktop;
};

constexpr unsigned kQuestion = mbox::kYesNo | mbox::kIconQuestion;

TEST(ConsoleDesktop, BoxesGoToStderrAsCaptionAndTextInUtf8) {
  Console console({});
  EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"Нет ответа от прибора!\nПроверьте.",
                                         L"Ошибка обмена данными.", mbox::kIconWarning),
            mbox::kOk);
  EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"", L"Ошибка.", mbox::kIconError), mbox::kOk);
  EXPECT_EQ(console.Printed(),
            "Ошибка обмена данными.: Нет ответа от прибора!\nПроверьте.\nОшибка.: \n");
  ASSERT_EQ(console.desktop->Boxes().size(), 2u);
  EXPECT_EQ(console.desktop->Boxes()[0].first, L"Ошибка обмена данными.");
  EXPECT_EQ(console.desktop->Boxes()[1].second, L"");
}

TEST(ConsoleDesktop, QuestionsAreAnsweredFromRetriesThenNo) {
  ConsoleDesktop::Options options;
  options.retries = 2;
  options.inIsTerminal = true;  // retries win over the terminal
  Console console(options, "y\ny\ny\n");
  EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"Снова?", L"Внимание!", kQuestion), mbox::kYes);
  EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"Снова?", L"Внимание!", kQuestion), mbox::kYes);
  EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"Снова?", L"Внимание!", kQuestion), mbox::kNo);
  EXPECT_EQ(console.Printed(),
            "Внимание!: Снова? [y/N] y\nВнимание!: Снова? [y/N] y\nВнимание!: Снова? [y/N] n\n");
}

TEST(ConsoleDesktop, QuestionsAreAskedOnATerminalOnly) {
  {
    ConsoleDesktop::Options options;
    options.inIsTerminal = true;
    Console console(options, "да\nnope\n  Y\n");
    EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"?", L"Q", kQuestion), mbox::kYes);
    EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"?", L"Q", kQuestion), mbox::kNo);
    EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"?", L"Q", kQuestion), mbox::kYes);
    EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"?", L"Q", kQuestion), mbox::kNo);  // end
  }
  {
    Console console({}, "y\n");  // not a terminal: never read
    EXPECT_EQ(console.desktop->ShowMessage(nullptr, L"?", L"Q", kQuestion), mbox::kNo);
    EXPECT_EQ(console.Printed(), "Q: ? [y/N] n\n");
    EXPECT_EQ(std::fgetc(console.in.get()), 'y');
  }
}

TEST(ConsoleDesktop, ProgressIsDrawnOnATerminalAndEndsBeforeABox) {
  {
    Console console({});
    console.desktop->SetProgressRange(nullptr, 100);
    console.desktop->SetProgressPos(nullptr, 42);
    console.desktop->SetStatusText(nullptr, L"Запись программы ...");
    EXPECT_EQ(console.Printed(), "");
  }
  ConsoleDesktop::Options options;
  options.errIsTerminal = true;
  Console console(options);
  console.desktop->SetProgressRange(nullptr, 100);
  console.desktop->SetProgressPos(nullptr, 7);
  console.desktop->SetProgressPos(nullptr, 7);  // the same line is not drawn again
  console.desktop->SetProgressPos(nullptr, 100);
  console.desktop->SetStatusText(nullptr, L"Обновление прибора...");
  console.desktop->SetProgressRange(nullptr, 38);
  console.desktop->SetProgressPos(nullptr, 36);
  console.desktop->ShowMessage(nullptr, L"t", L"c", mbox::kIconWarning);
  EXPECT_EQ(console.Printed(),
            "\r7%\r100%\r[Обновление прибора...] 100%\r[Обновление прибора...] 36/38\nc: t\n");
  console.desktop->SetProgressPos(nullptr, 37);
  console.desktop->SetStatusText(nullptr, L"");
  console.desktop.reset();  // the line is ended on the way out
  EXPECT_TRUE(console.Printed().ends_with("c: t\n\r[Обновление прибора...] 37/38\r37/38" +
                                          std::string(24, ' ') + "\n"))
      << console.Printed();
}

TEST(ConsoleDesktop, ChooseFileAnswersWithThePresetPath) {
  Console console({});
  EXPECT_FALSE(console.desktop->ChooseFile({}).has_value());
  console.desktop->SetChosenFile(L"/tmp/конфигурация.bin");
  EXPECT_EQ(console.desktop->ChooseFile({true, L"bin", L"File configuration (*.bin)", L"*.bin"}),
            L"/tmp/конфигурация.bin");
}

}  // namespace
}  // namespace orvel
