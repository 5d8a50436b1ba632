#include "device_line.h"

namespace lovar::wintest {

namespace {
std::string Env(const char* name, const char* fallback) {
  const char* v = std::getenv(name);
  return v && *v ? v : fallback;
}
}  // namespace

std::string DataCom() {
  return Env("LOVAR_TEST_DATA_COM", "COM5");
}
std::string ControlCom() {
  return Env("LOVAR_TEST_CONTROL_COM", "COM6");
}

DeviceLine::DeviceLine() {
  handle_ = CreateFileA(WinDevicePath(ControlCom()).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle_ == INVALID_HANDLE_VALUE) return;
  DCB dcb;
  std::memset(&dcb, 0, sizeof dcb);
  dcb.DCBlength = sizeof dcb;
  GetCommState(handle_, &dcb);
  dcb.BaudRate = 9600;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  SetCommState(handle_, &dcb);
  // A reply line comes within seconds; a far end that is gone must not hang the test.
  COMMTIMEOUTS t{};
  t.ReadTotalTimeoutConstant = 30000;
  SetCommTimeouts(handle_, &t);
  // Forget what either side has sent so far.
  if (Command("F") != "ok") {
    CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }
}

DeviceLine::~DeviceLine() {
  if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
}

std::string DeviceLine::Command(const std::string& line) {
  if (!ok()) return {};
  std::string out = line + "\n";
  DWORD n = 0;
  if (!WriteFile(handle_, out.data(), static_cast<DWORD>(out.size()), &n, nullptr)) return {};
  std::string reply;
  char c = 0;
  while (ReadFile(handle_, &c, 1, &n, nullptr) && n == 1) {
    if (c == '\n') return reply;
    reply += c;
  }
  return {};  // timed out
}

bool DeviceLine::Send(size_t n, uint8_t first) {
  return Command("S " + std::to_string(n) + " " + std::to_string(first)) == "ok";
}

bool DeviceLine::SendWaiting(size_t n, uint8_t first) {
  return Command("B " + std::to_string(n) + " " + std::to_string(first)) == "ok";
}

std::vector<uint8_t> DeviceLine::Take(size_t n) {
  std::string reply = Command("G " + std::to_string(n));
  std::vector<uint8_t> bytes;
  if (reply.rfind("ok ", 0) != 0) return bytes;
  for (size_t i = 3; i + 1 < reply.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoi(reply.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

bool DeviceLine::HangUp() {
  return Command("H") == "ok";
}

}  // namespace lovar::wintest
