// Loading update packages: plain and scrambled payloads, the split into program and parts, and the
// refusals of bad packages.

#include <gtest/gtest.h>

#include <string>

#include "common/error_report.h"
#include "firmware/update_package.h"
#include "support/package_builder.h"

namespace {

using orvel::test::BuildPackage;
using orvel::test::Bytes;
using orvel::test::PackageContents;
using orvel::test::PatternBytes;

const std::wstring kSizeError = L"Размер файла обновления не верен.";
const std::wstring kChecksumError = L"Файл обновления - конорольная сумма не совапала.";

// Runs the loader and returns the text of the box it refused the package with.
std::wstring Refusal(Bytes file) {
  try {
    LoadUpdatePackage(file);
  } catch (const CMBoxExeption& box) {
    EXPECT_EQ(box.Caption(), L"Ошибка.");
    EXPECT_EQ(box.Style(), 0x10u);
    return box.Text();
  }
  return L"(accepted)";
}

PackageContents ThreeParts(bool scrambled) {
  PackageContents contents;
  contents.version = {3, 112};
  contents.program = PatternBytes(300, 1);
  contents.parts = {PatternBytes(1000, 2), PatternBytes(10, 3), PatternBytes(300, 4)};
  contents.scrambled = scrambled;
  return contents;
}

TEST(UpdatePackage, SplitsPlainAndScrambledPackagesAlike) {
  for (bool scrambled : {false, true}) {
    SCOPED_TRACE(scrambled ? "scrambled" : "plain");
    const PackageContents contents = ThreeParts(scrambled);
    Bytes file = BuildPackage(contents);
    const Bytes stored = file;
    const UpdatePackage package = LoadUpdatePackage(file);
    EXPECT_EQ(package.version.kind, 3);
    EXPECT_EQ(package.version.number, 112);
    EXPECT_EQ(package.program, contents.program);
    EXPECT_EQ(package.parts, contents.parts);
    // The file is unscrambled in place; a plain one is left as it was.
    EXPECT_EQ(Bytes(file.begin() + 20, file.end()), orvel::test::PlainPayload(contents));
    EXPECT_EQ(file == stored, !scrambled);
  }
}

TEST(UpdatePackage, ScrambledPayloadOf25BytesUsesHeaderThenStoredPayload) {
  // Built by hand: payload bytes 0..19 are XORed with header bytes 0..19 (reserved ones included),
  // bytes 20..24 with the stored payload bytes 0..4.
  Bytes plain(25);
  std::uint32_t sum = 0;
  for (int j = 0; j < 25; ++j) sum += plain[j] = static_cast<std::uint8_t>(0x40 + 3 * j);
  Bytes file(45, 0);
  file[0] = 25;
  orvel::protocol::PutU32(&file[4], sum);
  file[8] = 0x81;  // reserved
  file[9] = 7;
  file[10] = 111;
  file[11] = 0x99;  // reserved
  file[12] = 25;
  file[16] = 0xFF;  // any non-zero value means scrambled
  file[17] = 0x13;
  file[18] = 0x57;
  file[19] = 0x9B;
  for (int j = 0; j < 20; ++j) file[20 + j] = plain[j] ^ file[j];
  for (int j = 20; j < 25; ++j) file[20 + j] = plain[j] ^ file[20 + j - 20];

  const UpdatePackage package = LoadUpdatePackage(file);
  EXPECT_EQ(package.program, plain);
  EXPECT_TRUE(package.parts.empty());
  EXPECT_EQ(package.version.number, 111);
}

TEST(UpdatePackage, PartsAndTheIgnoredTail) {
  PackageContents contents;
  contents.program = PatternBytes(64, 9);

  // Payload is the program alone: no parts; an empty payload as well.
  Bytes programOnly = BuildPackage(contents);
  const UpdatePackage single = LoadUpdatePackage(programOnly);
  EXPECT_EQ(single.program, contents.program);
  EXPECT_TRUE(single.parts.empty());
  PackageContents empty;
  Bytes emptyFile = BuildPackage(empty);
  ASSERT_EQ(emptyFile.size(), 20u);
  const UpdatePackage nothing = LoadUpdatePackage(emptyFile);
  EXPECT_TRUE(nothing.program.empty());
  EXPECT_TRUE(nothing.parts.empty());

  // Up to 20 trailing bytes after the last part are not read as a part, whatever they hold.
  contents.parts = {PatternBytes(40, 1)};
  for (std::size_t tail : {1u, 19u, 20u}) {
    contents.tail = Bytes(tail, 0x01);
    Bytes file = BuildPackage(contents);
    EXPECT_EQ(LoadUpdatePackage(file).parts.size(), 1u) << tail;
  }
  // 21 bytes are one more part: a length of 17 and its 17 bytes.
  contents.tail = Bytes(21, 0xEE);
  contents.tail[0] = 17;
  contents.tail[1] = contents.tail[2] = contents.tail[3] = 0;
  Bytes file = BuildPackage(contents);
  const UpdatePackage longer = LoadUpdatePackage(file);
  ASSERT_EQ(longer.parts.size(), 2u);
  EXPECT_EQ(longer.parts[1], Bytes(17, 0xEE));
}

TEST(UpdatePackage, EmptyPartIsCounted) {
  PackageContents contents;
  contents.program = PatternBytes(10, 5);
  contents.parts = {{}, PatternBytes(30, 6), {}};
  contents.tail = Bytes(20, 0);  // keeps the last empty part clear of the ignored tail
  Bytes file = BuildPackage(contents);
  const UpdatePackage package = LoadUpdatePackage(file);
  ASSERT_EQ(package.parts.size(), 3u);
  EXPECT_TRUE(package.parts[0].empty());
  EXPECT_EQ(package.parts[1], contents.parts[1]);
  EXPECT_TRUE(package.parts[2].empty());
}

TEST(UpdatePackage, RefusesWrongSizeBeforeTheChecksum) {
  EXPECT_EQ(Refusal({}), kSizeError);
  EXPECT_EQ(Refusal(Bytes(19, 0)), kSizeError);

  PackageContents contents = ThreeParts(false);
  contents.checksum = 12345;  // wrong as well: the size must be what is reported
  for (std::uint32_t length : {0u, 1621u, 1623u, 0xFFFFFFFFu}) {
    contents.payloadLength = length;
    EXPECT_EQ(Refusal(BuildPackage(contents)), kSizeError) << length;
  }
  // Refused before the payload pass: a scrambled file is left as stored.
  PackageContents scrambled = ThreeParts(true);
  scrambled.payloadLength = 1621;
  Bytes file = BuildPackage(scrambled);
  const Bytes stored = file;
  EXPECT_THROW(LoadUpdatePackage(file), CMBoxExeption);
  EXPECT_EQ(file, stored);
}

TEST(UpdatePackage, RefusesWrongChecksumOfRightSize) {
  for (bool scrambled : {false, true}) {
    PackageContents contents = ThreeParts(scrambled);
    contents.checksum = orvel::test::ByteSum(orvel::test::PlainPayload(contents)) + 1;
    EXPECT_EQ(Refusal(BuildPackage(contents)), kChecksumError);
  }
  // A scrambled package whose flag was lost sums its stored bytes, which do not match.
  Bytes file = BuildPackage(ThreeParts(true));
  file[16] = 0;
  EXPECT_EQ(Refusal(file), kChecksumError);
}

TEST(UpdatePackage, RefusesLengthsThatRunPastTheFile) {
  // Program length beyond the payload, with a checksum that is right.
  PackageContents contents;
  contents.program = PatternBytes(100, 1);
  contents.programLength = 101;
  EXPECT_EQ(Refusal(BuildPackage(contents)), kSizeError);
  contents.programLength = 0xFFFFFFFF;
  EXPECT_EQ(Refusal(BuildPackage(contents)), kSizeError);

  // A part length one byte too long, and one so long that adding it would overflow.
  for (std::uint32_t length : {31u, 0xFFFFFFFFu, 0xFFFFFFFCu}) {
    PackageContents parts;
    parts.parts = {PatternBytes(30, 2)};
    Bytes plain = orvel::test::PlainPayload(parts);
    orvel::protocol::PutU32(&plain[0], length);
    PackageContents raw;
    raw.tail = plain;  // the whole payload as written, the program empty
    for (bool scrambled : {false, true}) {
      raw.scrambled = scrambled;
      EXPECT_EQ(Refusal(BuildPackage(raw)), kSizeError) << length;
    }
  }
}

}  // namespace
