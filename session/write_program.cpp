// The write-program task and the program transfer that the device update shares: a raw image into
// the device's program area, block by block, then the 32-bit byte sum of the image as a word of its
// own behind the area.

#include <algorithm>

#include "firmware/program_image.h"
#include "platform/file_io.h"
#include "protocol/exchange_rules.h"
#include "session/device_session.h"
#include "session/transfer_engine.h"

namespace {

const orvel::FileChoice kProgramFile{false, L"hex", L"File programm (*.hex)", L"*.hex"};

constexpr std::size_t kBlockSize = 256;

// The data byte of the opening request. The device takes no meaning from it; we send 1, a set
// "start" flag, so that the request is the same every time and reads sensibly in a capture.
constexpr std::uint8_t kProgramStartData = 0x01;

}  // namespace

bool CDeviceSession::WriteProgram() {
  try {
    m_progress.ResetPercent();
    const Lease lease = GetLink();
    const std::wstring path = ChooseTaskFile(
        kProgramFile,
        L"Не указано название и место расположения файла! Запись программы в прибор отменена.");
    // Measured before it is read: a longer file is refused without being read at all.
    Bytes image;
    const orvel::ReadStatus status = orvel::ReadWholeFile(path, image, m_memoryMap.programSize);
    if (orvel::CannotBeOpened(status)) {
      throw CMBoxExeption(L"Не удается открыть файл(ы):\n", L"Внимание!", mbox::kIconWarning);
    }
    if (status == orvel::ReadStatus::TooLarge) {
      throw CMBoxExeption(L"Размер файла программы не верен.", L"Внимание!", mbox::kIconError);
    }
    if (status != orvel::ReadStatus::Ok || image.size() != m_memoryMap.programSize) {
      throw CMBoxExeption(L"Размер файла программы прочитан не полностью.", L"Внимание!",
                          mbox::kIconError);
    }
    WriteThenVerify([&] { TransferProgram(image, false); }, [&] { VerifyProgram(image, false); });
    return true;
  } catch (...) {
    ShowFailure(L"Ошибка потока:0x000B");
  }
  m_progress.ResetPercent();
  return false;
}

void CDeviceSession::TransferProgram(const Bytes& image, const bool& suppressProgress) {
  // Every block goes over one socket, whoever called us.
  const Lease lease = GetLink();
  BeginProgramWrite();

  TransferEngine transfer(*this, *lease, ServiceCommand::Write, m_timeLimit);
  const std::size_t blocks = (image.size() + kBlockSize - 1) / kBlockSize;
  transfer.OnAnswer([&](std::size_t answered, std::size_t) {
    if (!suppressProgress && answered <= blocks) {
      m_progress.SetPos(orvel::exchange::ProgramProgress(answered - 1));
    }
  });
  for (std::size_t offset = 0; offset < image.size(); offset += kBlockSize) {
    const std::size_t length = std::min(kBlockSize, image.size() - offset);
    transfer.Submit(m_memoryMap.programBase + static_cast<std::uint32_t>(offset),
                    static_cast<std::uint16_t>(length), image.data() + offset, nullptr);
  }
  // The checksum word stands for the whole image: the device may check it the moment it has it.
  transfer.Barrier();
  const auto word = ChecksumWord(image);
  transfer.Submit(m_memoryMap.checksumAddress, static_cast<std::uint16_t>(word.size()), word.data(),
                  nullptr);
  transfer.Barrier();
  if (!suppressProgress) m_progress.SetPos(100);
}

std::array<std::uint8_t, 4> CDeviceSession::ChecksumWord(const Bytes& image) {
  return orvel::firmware::ChecksumWord(image);
}

void CDeviceSession::VerifyProgram(const Bytes& image, const bool& suppressProgress) {
  const auto word = ChecksumWord(image);
  VerifyWritten({{m_memoryMap.programBase, image.data(), image.size()},
                 {m_memoryMap.checksumAddress, word.data(), word.size()}},
                suppressProgress);
}

void CDeviceSession::BeginProgramWrite() {
  const Lease lease = GetLink();
  Exchange(m_timeLimit, *lease, 0, ServiceCommand::ProgramStart, 1, &kProgramStartData, nullptr);
}
