#pragma once
// The one object through which everything that touches the device runs: the connection values of
// the current task, the link and its lease, the device memory map, the progress reporter and the
// window handles a task talks to the user through. Every task operation is one of its methods;
// their bodies live in this folder, one file per task (the exchange primitives in exchange.cpp).

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/desktop.h"
#include "common/error_report.h"
#include "device/leased_link.h"
#include "device/link.h"
#include "platform/clock.h"
#include "protocol/memory_map.h"
#include "protocol/packets.h"
#include "protocol/restart_poll.h"
#include "protocol/transfer_pacing.h"
#include "session/task_progress.h"

// The device's memory as the current task uses it; the configuration size is chosen by the
// device's version (SelectConfigurationSize).
struct MemoryMap {
  std::uint32_t configAddress = orvel::memory::kConfigAddress;
  std::uint32_t configSize = 0;
  std::uint32_t programSize = orvel::memory::kProgramSize;
  std::uint32_t programBase = orvel::memory::kProgramBase;
  std::uint32_t checksumAddress = orvel::memory::kChecksumAddress;
};

struct UpdatePackage;

// What the session counted during the current task; reset by BeginTask().
struct TaskStats {
  unsigned long requests = 0;  // requests sent (a resent one counts once here)
  unsigned long resends = 0;   // sends of a request after its first
  std::uint64_t bytes = 0;     // data bytes of the answered reads and writes
  // Data bytes of the reads and writes handed over to be sent so far, or announced ahead by a step
  // of several transfers (AnnounceBytes): bytes of this figure is what is done of it.
  std::uint64_t queuedBytes = 0;
  std::optional<DeviceVersion> deviceVersion;  // the device's answer to the version query
  // The update found the device at the package's version already and wrote nothing
  // (--skip-current).
  bool current = false;
  // The update asked the version again after the parts; the answer, nothing when it gave none.
  bool versionAfterAsked = false;
  std::optional<DeviceVersion> versionAfter;
  // The read-back of what the task wrote failed: nothing may restart the device now.
  bool verifyFailed = false;
};

// How region reads and writes and the program transfer pace their Read and Write requests (see
// TransferEngine). The defaults are the dialog's: one request at a time, sent again every 1.5 s.
struct TransferSettings {
  // The fixed wait before an unanswered request goes again, in ms; none: a wait that follows the
  // device's round trip (orvel::exchange::RoundTripEstimate).
  std::optional<unsigned> resendMs = orvel::protocol::kWindowMs;
  // The most requests out at once (orvel::exchange::FlightWindow).
  unsigned window = 1;
};

// Bytes written at a device address, to be read back.
struct WrittenRegion {
  std::uint32_t address = 0;
  const std::uint8_t* data = nullptr;
  std::size_t size = 0;
};

// What the update does when it finds that an earlier update of the same device stopped before the
// configuration was written back: the backup kept from then is the device's last good
// configuration.
enum class KeptBackupPolicy {
  Ask,        // ask the user (the dialog)
  UseKept,    // write the kept configuration back, and say so (orvelctl)
  ReadFresh,  // read the device again; the kept backup stays beside the new one
};

// What orvelctl adds to the update; the dialog leaves every one of them off.
struct UpdateChoices {
  bool skipCurrent = false;      // a device already at the package's version is left alone
  bool noDowngrade = false;      // a package older than the device's firmware is refused
  bool askVersionAfter = false;  // the version is asked again after the parts
  bool checkVersion = false;     // ... and another one than the package's fails the update
  // The wait after the restart ends as soon as the device is seen back (see WaitAfterRestart).
  bool restartPoll = false;
  // The user's state folder, where the record of an unfinished update of each device is kept
  // (firmware/backup_store.h); empty: the marker in the Temp folder, as the dialog keeps it.
  std::wstring stateFolder;
};

class CDeviceSession {
 public:
  using Lease = orvel::LeasedLink::Lease;
  using Bytes = std::vector<std::uint8_t>;

  // The real session: a CUDPAsio link.
  CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock);
  // A session over another link (tests put a scripted device here).
  CDeviceSession(orvel::IDesktop& desktop, orvel::IClock& clock,
                 std::unique_ptr<orvel::ILink> link);
  ~CDeviceSession();
  CDeviceSession(const CDeviceSession&) = delete;
  CDeviceSession& operator=(const CDeviceSession&) = delete;

  // --- link (device_session.cpp) ---
  Lease GetLink();
  // Called once before every task, after the connection values are set (the dialog's
  // PrepareConnection, orvelctl before its command): forgets what the session noted during the
  // previous task, the device's round trip included.
  void BeginTask();
  // True when this task has sent a Write to address.
  bool WroteAt(std::uint32_t address) const;
  // True when the n bytes of answer are "OK" and the address of a Write this task sent: a late
  // answer to that Write, whatever request is waiting now.
  bool IsLateWriteAnswer(const std::uint8_t* answer, std::size_t n) const;
  // A step that moves its bytes in several transfers (a read-back of several regions, the parts
  // of an update) tells their sum first, so that its progress by bytes does not start over with
  // each transfer: queuedBytes grows by n now, and by nothing for the next n bytes queued.
  void AnnounceBytes(std::uint64_t n);
  // Every datagram sent or received goes to observer too (null: to nobody); it must outlive the
  // session's use of it.
  void SetTrafficObserver(orvel::ITrafficObserver* observer);

  // --- exchange primitives (exchange.cpp; read_back.cpp) ---
  void Exchange(const std::uint16_t& timeLimit, orvel::ILink& link, std::uint32_t address,
                ServiceCommand command, std::uint16_t length, const std::uint8_t* data,
                std::uint8_t* out);
  void SendRequest(orvel::ILink& link, ServiceCommand command, std::uint16_t length,
                   const std::uint8_t* data, orvel::protocol::RequestBuffer& request);
  // After an answer to a request that went out `sends` times: takes the answers still owed to the
  // earlier sends, for at most two answer windows.
  void TakeLateAnswers(orvel::ILink& link, unsigned sends, std::uint16_t answerLength);
  void ReadRegion(std::uint32_t address, int size, std::uint8_t* out, const bool& suppressProgress);
  void WriteRegion(std::uint32_t address, const std::uint8_t* data, int size,
                   const bool& suppressProgress);
  void QueryVersion(DeviceVersion& out);
  bool RestartDevice();

  // Reads the regions back and compares them with what was written; a difference throws the
  // verification box naming the lowest differing address and the number of differing bytes.
  void VerifyWritten(const std::vector<WrittenRegion>& regions, const bool& suppressProgress);
  // Runs write on the task's bar, then, with m_verify, verify: the write takes the first half of
  // the bar and the read-back the second.
  void WriteThenVerify(const std::function<void()>& write, const std::function<void()>& verify);

  // --- configuration (read_configuration.cpp, write_configuration.cpp) ---
  bool ReadConfiguration();
  // beforeReplace, when given, runs once the area has been read, just before the file at path is
  // replaced; what it throws stops the task there.
  void ReadConfigurationToFile(const DeviceVersion& version, const std::wstring& path,
                               const bool& suppressProgress,
                               const std::function<void()>& beforeReplace = nullptr);
  void SelectConfigurationSize(const DeviceVersion& version);
  bool WriteConfiguration();
  void WriteConfigurationImage(const Bytes& image, const bool& suppressProgress);
  bool LoadFile(const std::wstring& path, Bytes& out);
  // As above for a file that may be at most maxSize bytes long: false, with nothing read, for a
  // longer one.
  bool LoadFile(const std::wstring& path, Bytes& out, std::uint64_t maxSize);
  std::wstring& PrepareTempFolder(std::wstring& out);
  bool ConvertConfiguration(Bytes& old, Bytes& out);
  void PatchEventNames(std::uint8_t* table);
  void PatchEventLists(std::uint8_t* table);

  // --- firmware (write_program.cpp, update_device.cpp) ---
  bool WriteProgram();
  void TransferProgram(const Bytes& image, const bool& suppressProgress);
  void BeginProgramWrite();
  // The checksum word that follows a program image: the image's byte sum, least significant first.
  static std::array<std::uint8_t, 4> ChecksumWord(const Bytes& image);
  // Reads back the image at programBase and its checksum word.
  void VerifyProgram(const Bytes& image, const bool& suppressProgress);
  bool UpdateDevice();
  // The wait after a restart request, m_restartWaitSteps seconds at most, one progress step a
  // second. With m_update.restartPoll and an acknowledged restart the device is asked every
  // 0.5 s (probe) and the wait ends once it answers after having gone silent; true then.
  bool WaitAfterRestart(bool acknowledged, orvel::restart::Probe probe);
  // Asks the version after the update's parts into m_stats.versionAfter; with
  // m_update.checkVersion another version than the package's throws.
  void CheckVersionAfter(const DeviceVersion& package);
  int SendUpdatePart(const Bytes& part, const std::uint32_t& offset, std::uint32_t partNumber);

  // The file the user chose for this task; none ends the task with cancelledText as a warning box.
  std::wstring ChooseTaskFile(const orvel::FileChoice& choice, const wchar_t* cancelledText);

  // Shows a failure through the desktop, owned by m_hOwner.
  int ShowBox(const CMBoxExeption& box) { return box.Show(m_desktop, m_hOwner); }
  // Inside a catch block: shows what was caught (see orvel::ShowCaughtFailure), owned by m_hOwner.
  int ShowFailure(const std::wstring& lastResortText) {
    return orvel::ShowCaughtFailure(m_desktop, m_hOwner, lastResortText);
  }

  orvel::IDesktop& Desktop() { return m_desktop; }
  orvel::IClock& Clock() { return m_clock; }
  orvel::ILink& Link() { return m_link.Link(); }

  // Fields, as the task runner and the tasks use them.
  orvel::WindowHandle m_hOwner = nullptr;
  orvel::WindowHandle m_hStatus = nullptr;
  MemoryMap m_memoryMap;
  CTaskProgress m_progress;
  std::uint32_t m_deviceAddress = 0;
  std::uint32_t m_localAddress = 0;
  std::uint16_t m_port = 0;
  std::uint16_t m_timeLimit = 30;
  std::wstring m_workDir;
  std::wstring m_tempDir;
  // When set, the update keeps its backups in Temp/<this>/ instead of Temp/ (a run over several
  // devices: one folder each).
  std::wstring m_deviceFolder;
  // How long the update waits for the device after its restart, in 1000-ms steps.
  unsigned m_restartWaitSteps = 29;
  KeptBackupPolicy m_keptBackup = KeptBackupPolicy::Ask;
  // Read back what the writing tasks wrote, before any restart (orvelctl --verify).
  bool m_verify = false;
  TransferSettings m_transfer;
  // write-config writes a configuration file longer than the device's configuration area
  // (orvelctl --force); otherwise such a file is refused before anything is written.
  bool m_forceConfiguration = false;
  UpdateChoices m_update;
  TaskStats m_stats;
  // Called on the task's thread after every answer taken and every resend, when m_stats changed
  // (orvelctl's live lines follow the bytes with it; the dialog's bar keeps its steps).
  std::function<void()> m_onStats;
  // When set, the task ends with orvel::TaskInterrupted at its next wait once it holds true
  // (orvelctl: a run told to stop; the dialog never sets it).
  const std::atomic<bool>* m_stopNow = nullptr;
  // Throws orvel::TaskInterrupted when m_stopNow says so.
  void StopPoint() const {
    if (m_stopNow != nullptr && m_stopNow->load()) throw orvel::TaskInterrupted{};
  }

  // The device's round trip as this task's transfers measured it.
  const orvel::exchange::RoundTripEstimate& RoundTrip() const { return m_roundTrip; }

 private:
  friend class TransferEngine;

  orvel::IDesktop& m_desktop;
  orvel::IClock& m_clock;
  // Counts the data bytes of a request handed to the link in queuedBytes, less what was announced;
  // after an answer or a resend, StatsChanged tells m_onStats.
  void CountQueued(std::uint64_t n);
  void StatsChanged() {
    if (m_onStats) m_onStats();
  }
  std::uint64_t m_announcedBytes = 0;
  // Reports a datagram from the device and what became of it.
  void ReportAnswer(const std::uint8_t* data, std::size_t shown, unsigned size,
                    orvel::DatagramFate fate);
  // Reports what the task made of the traffic, for the trace.
  void ReportNote(const std::string& text);

  orvel::LeasedLink m_link;
  orvel::ITrafficObserver* m_observer = nullptr;
  // Addresses of the Write requests of the current task, in the order sent: a late answer to one of
  // them ("OK" and the address) must not pass for the answer to a request without an echo. Looked
  // up only for an answer of that shape to such a request, so appending is all a transfer pays.
  std::vector<std::uint32_t> m_taskWrites;
  orvel::exchange::RoundTripEstimate m_roundTrip;
};
