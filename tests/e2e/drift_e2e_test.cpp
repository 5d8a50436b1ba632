// End to end: a device changed behind the registry's back (the simulator started with another
// image), found at the read, recorded, listed by sites drift, and a write over it refused
// without --over-drift, against the real lovar-sim and a real registry file.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "../store/records.h"
#include "files/config_file.h"
#include "processes.h"
#include "sim/device_sim.h"

namespace lovar::e2e {
namespace {
using testing::TempFolder;

// A copy of the configuration file from with the image's byte at flipped (bit 0).
void Flipped(const std::filesystem::path& from, const std::filesystem::path& to, int at) {
  std::vector<uint8_t> bytes = testing::FileBytes(from);
  bytes[static_cast<size_t>(100 + at)] ^= 1;
  std::ofstream(to, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// The image byte at of a configuration file.
int ByteOf(const std::filesystem::path& file, int at) {
  return testing::FileBytes(file)[static_cast<size_t>(100 + at)];
}

constexpr int kSounder = 13;  // model 251: "Внутренний звуковой сигн."
constexpr int kSiren = 14;    // model 251: "Сирена"

TEST(DriftCli, ADeviceChangedBehindTheRegistrysBackIsFoundListedAndNotWrittenOverUnasked) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  const auto path = [&](const char* name) { return Utf8Of(dir / name); };
  {
    SimProcess sim({"--model", "251"});
    const RunResult r = RunCli({"read", "-p", sim.port(), "-o", path("a.dat"), "--db", db});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.err.find("изменено не через Ловар"), std::string::npos) << r.err;
  }
  // The keypad changed the sounder's time; the office's file still has the old one.
  Flipped(dir / "a.dat", dir / "keypad.dat", kSounder);
  const int recorded = ByteOf(dir / "a.dat", kSounder);
  const int keypad = ByteOf(dir / "keypad.dat", kSounder);
  SimProcess sim({"--model", "251", "--image", path("keypad.dat")});
  RunResult r = RunCli({"read", "-p", sim.port(), "-o", path("b.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::string said = "изменено не через Ловар: Параметры: Внутренний звуковой сигн. (было " +
                           std::to_string(recorded) + ", стало " + std::to_string(keypad) + ")";
  EXPECT_NE(r.err.find("Внимание: " + said), std::string::npos) << r.err;

  r = RunCli({"sites", "drift", "--db", db, "--format", "json"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.out.find("\"fields\": \"sounder_time\""), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\"name\": \"Объект 1024\""), std::string::npos) << r.out;
  r = RunCli({"sites", "drift", "Объект 1024", "--db", db});
  EXPECT_NE(r.out.find("Параметры: Внутренний звуковой сигн."), std::string::npos) << r.out;

  // The old file would put the sounder back: refused before anything is written.
  r = RunCli({"write", "-p", sim.port(), path("a.dat"), "--db", db});
  EXPECT_EQ(r.exit_code, 19) << r.err;
  EXPECT_NE(r.err.find("Запись не начата: она изменила бы поля, изменённые в приборе не через "
                       "Ловар (Параметры: Внутренний звуковой сигн.). Прибор не изменён"),
            std::string::npos)
      << r.err;
  // A write that leaves the sounder alone goes on, and says the drift.
  Flipped(dir / "keypad.dat", dir / "siren.dat", kSiren);
  r = RunCli({"write", "-p", sim.port(), path("siren.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find(said), std::string::npos) << r.err;
  r = RunCli({"read", "-p", sim.port(), "-o", path("c.dat"), "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(ByteOf(dir / "c.dat", kSounder), keypad);  // the keypad's value stayed
  EXPECT_EQ(ByteOf(dir / "c.dat", kSiren), ByteOf(dir / "siren.dat", kSiren));
  // That write was proven over what the device held: the drift is the site's now.
  EXPECT_EQ(r.err.find("изменено не через Ловар"), std::string::npos) << r.err;
  r = RunCli({"sites", "drift", "--db", db, "--format", "csv"});
  EXPECT_EQ(r.out.find("sounder_time"), std::string::npos) << r.out;

  // Changed once more, and written over knowingly.
  sim.Stop();
  Flipped(dir / "c.dat", dir / "again.dat", kSounder);
  SimProcess changed({"--model", "251", "--image", path("again.dat")});
  r = RunCli({"write", "-p", changed.port(), path("c.dat"), "--db", db});
  EXPECT_EQ(r.exit_code, 19) << r.err;
  r = RunCli({"write", "-p", changed.port(), path("c.dat"), "--db", db, "--over-drift"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Записано поверх изменений не через Ловар (--over-drift): Параметры: "
                       "Внутренний звуковой сигн."),
            std::string::npos)
      << r.err;
  r = RunCli({"read", "-p", changed.port(), "-o", path("d.dat"), "--db", db});
  EXPECT_EQ(ByteOf(dir / "d.dat", kSounder), ByteOf(dir / "c.dat", kSounder));
  r = RunCli({"sites", "drift", "--db", db});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_NE(r.err.find("Изменений не через Ловар не найдено"), std::string::npos) << r.err;
}

TEST(DriftCli, ABatchRowOverDriftIsNotWrittenAndTheOthersAre) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  const auto path = [&](const char* name) { return Utf8Of(dir / name); };
  {
    SimProcess sim({"--model", "251"});
    RunResult r = RunCli({"read", "-p", sim.port(), "-o", path("a.dat"), "--db", db});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  // A device of the site changed on its keypad, and another device.
  Flipped(dir / "a.dat", dir / "keypad.dat", kSounder);
  SimProcess changed({"--model", "251", "--image", path("keypad.dat")});
  SimProcess same({"--model", "251", "--image", path("a.dat")});
  std::ofstream(dir / "plan.csv", std::ios::binary) << "port,template,object_number\n" +
                                                           changed.port() + ",a.dat,1024\n" +
                                                           same.port() + ",a.dat,1025\n";
  // The template's own number kept on purpose: the site's device.
  const std::string allow = "object-number-from-template";
  RunResult r = RunCli({"batch", path("plan.csv"), "--db", db, "--allow-check", allow});
  EXPECT_EQ(r.exit_code, 13) << r.err;
  EXPECT_NE(r.err.find("изменено не через Ловар: Параметры: Внутренний звуковой сигн."),
            std::string::npos)
      << r.err;
  EXPECT_NE((r.out + r.err)
                .find("Запись не начата: она изменила бы поля, изменённые в приборе не "
                      "через Ловар (Параметры: Внутренний звуковой сигн.)"),
            std::string::npos)
      << r.out << r.err;
  r = RunCli({"read", "-p", changed.port(), "-o", path("b.dat"), "--db", db});
  EXPECT_EQ(ByteOf(dir / "b.dat", kSounder), ByteOf(dir / "keypad.dat", kSounder));

  r = RunCli({"batch", path("plan.csv"), "--db", db, "--over-drift", "--allow-check", allow});
  EXPECT_EQ(r.exit_code, 0) << r.out << r.err;
  r = RunCli({"read", "-p", changed.port(), "-o", path("c.dat"), "--db", db});
  EXPECT_EQ(ByteOf(dir / "c.dat", kSounder), ByteOf(dir / "a.dat", kSounder));
  EXPECT_EQ(r.err.find("изменено не через Ловар"), std::string::npos) << r.err;
}

TEST(DriftCli, AModel252OfASiteNamedIsReadBeforeItsWriteAndARegistryOutOfReachIsNoFailure) {
  TempFolder dir;
  const std::string db = Utf8Of(dir / "registry.sqlite");
  const auto path = [&](const char* name) { return Utf8Of(dir / name); };
  RunResult r = RunCli({"sites", "add", "ул. Садовая, 1", "--db", db});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  {
    SimProcess sim({"--model", "252"});
    r = RunCli({"read", "-p", sim.port(), "-o", path("a.dat"), "--db", db, "--site", "1"});
    ASSERT_EQ(r.exit_code, 0) << r.err;
  }
  constexpr int kSounder252 = 117;
  Flipped(dir / "a.dat", dir / "keypad.dat", kSounder252);
  SimProcess sim({"--model", "252", "--image", path("keypad.dat")});
  r = RunCli({"write", "-p", sim.port(), path("a.dat"), "--db", db, "--site", "1"});
  EXPECT_EQ(r.exit_code, 19) << r.err;
  EXPECT_NE(r.err.find("изменено не через Ловар: Параметры: Внутренний звуковой сигн."),
            std::string::npos)
      << r.err;
  // Without a site the device is nobody's: nothing to compare with, written as ever.
  r = RunCli({"write", "-p", sim.port(), path("a.dat"), "--db", db});
  EXPECT_EQ(r.exit_code, 0) << r.err;

  // A server nobody answers at: the read stands, "не сравнено" said, its record waits here.
  const std::string dead = "postgresql://lovar@127.0.0.1:" + std::to_string(FreePort()) +
                           "/lovar?sslmode=disable&connect_timeout=2";
  SimProcess t251({"--model", "251"});
  r = RunCli({"read", "-p", t251.port(), "-o", path("b.dat"), "--db", dead});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_NE(r.err.find("Не сравнено с реестром объектов: "), std::string::npos) << r.err;
}

}  // namespace
}  // namespace lovar::e2e
