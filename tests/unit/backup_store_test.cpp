// The marker beside the update's backup: it must name exactly one device, or none. The record of
// an unfinished update in the user's state folder: exactly what was written, one file per device.

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "firmware/backup_store.h"
#include "support/test_files.h"

namespace {

using orvel::backup::DeviceEndpoint;

TEST(BackupMarker, NamesOneDeviceOrNone) {
  const DeviceEndpoint device{0x7F000002, 40000};
  EXPECT_EQ(orvel::backup::MarkerText(device), "127.0.0.2:40000");
  EXPECT_EQ(orvel::backup::ParseMarker("127.0.0.2:40000"), device);
  EXPECT_EQ(orvel::backup::ParseMarker("255.255.255.255:65535"),
            (DeviceEndpoint{0xFFFFFFFF, 65535}));
  for (const char* text : {"", "127.0.0.2", "127.0.0.2:", "256.0.0.1:5", "1.2.3.4:65536",
                           "1.2.3.4:5 trailing", "1.2.3:5"}) {
    EXPECT_FALSE(orvel::backup::ParseMarker(text).has_value()) << text;
  }
}

}  // namespace

namespace {

using orvel::backup::UpdateRecord;
using orvel::backup::UpdateStep;

UpdateRecord Record(UpdateStep step, std::wstring backup) {
  return {{0x0A000005, 40000}, std::string(64, 'a'), step, std::move(backup)};
}

// The record of an unfinished update is read back as written, whatever the backup's path holds,
// and nothing that is not exactly a record passes for one.
TEST(UpdateRecord, ReadsBackAsWrittenAndRefusesAnythingElse) {
  for (const UpdateStep step :
       {UpdateStep::Backup, UpdateStep::Program, UpdateStep::Configuration, UpdateStep::Restart}) {
    for (const std::wstring& path : {std::wstring(L"/site/Temp/10.0.0.5/ConfBackup.bin"),
                                     std::wstring(L"/a b/\nstep restart\n/Конфиг.bin")}) {
      const UpdateRecord record = Record(step, path);
      EXPECT_EQ(orvel::backup::ParseRecord(orvel::backup::RecordText(record)), record);
    }
  }
  EXPECT_TRUE(orvel::backup::NeedsBackup(UpdateStep::Program));
  EXPECT_FALSE(orvel::backup::NeedsBackup(UpdateStep::Configuration));

  const std::string good = orvel::backup::RecordText(Record(UpdateStep::Program, L"/b.bin"));
  const auto replaced = [&](const std::string& from, const std::string& to) {
    std::string text = good;
    text.replace(text.find(from), from.size(), to);
    return text;
  };
  for (const std::string& bad :
       {std::string(), good.substr(0, good.size() - 1), replaced("step program", "step parts"),
        replaced("aaaa", "AAAA"), replaced("10.0.0.5:40000", "10.0.0.5"),
        replaced("backup /b.bin", "backup "), replaced("orvelctl update record 1", "record")}) {
    EXPECT_FALSE(orvel::backup::ParseRecord(bad).has_value()) << bad;
  }
}

// One file per device in the state folder, created with the folders on its way; another device's
// record is untouched, and a file that holds no record of this device is found but not taken.
TEST(UpdateRecord, OneFilePerDeviceInTheStateFolder) {
  orvel::test::TempFolder folder;
  const std::wstring state = (folder.path() / "state" / "orvelctl").wstring();
  const UpdateRecord first = Record(UpdateStep::Backup, L"/x/ConfBackup.bin");
  UpdateRecord second = first;
  second.device.port = 40001;
  EXPECT_FALSE(orvel::backup::ReadRecord(state, first.device).present);
  ASSERT_TRUE(orvel::backup::WriteRecord(state, first));
  ASSERT_TRUE(orvel::backup::WriteRecord(state, second));
  EXPECT_EQ(folder.Names(), std::vector<std::string>{"state"});
  EXPECT_EQ(orvel::backup::RecordPath(state, first.device), state + L"/10.0.0.5-40000.pending");
  EXPECT_EQ(orvel::backup::ReadRecord(state, first.device).record, first);

  orvel::backup::RemoveRecord(state, second.device);
  EXPECT_FALSE(orvel::backup::ReadRecord(state, second.device).present);
  EXPECT_EQ(orvel::backup::ReadRecord(state, first.device).record, first);

  orvel::test::WriteBytes(orvel::backup::RecordPath(state, second.device), orvel::test::Bytes{'x'});
  const auto garbled = orvel::backup::ReadRecord(state, second.device);
  EXPECT_TRUE(garbled.present);
  EXPECT_FALSE(garbled.record.has_value());
  // A file where a folder on the way should be: the record cannot be written.
  orvel::test::WriteBytes(folder.path() / "file", {1});
  EXPECT_FALSE(orvel::backup::WriteRecord((folder.path() / "file" / "s").wstring(), first));
}

}  // namespace
