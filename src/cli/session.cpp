#include "cli/session.h"

#include <cstdio>
#include <string>

#include "model/config_image.h"

namespace lovar {
namespace {

using namespace std::chrono_literals;

constexpr auto kTick = 100ms;
// Generous bounds: the no-answer question and its retries end a silent exchange long before.
constexpr auto kExchangeLimit = std::chrono::milliseconds(30min);

std::string Hex2(uint8_t v) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", v);
  return text;
}

}  // namespace

Session::Session(EventLoop& loop, PortInterface& port, int retries, bool progress)
    : loop_(loop),
      port_(port),
      engine_(port, image_, *this),
      retries_(retries),
      progress_(progress) {
  port_.OnReceive = [this](const TMessageDevice& m) { engine_.Cport1Receive(m); };
  timer_id_ = loop_.AddTimer(kTick, [this] { engine_.Timer1Timer(); });
}

Session::~Session() {
  engine_.StopExchange();
  loop_.RemoveTimer(timer_id_);
  port_.CloseDevice();
  port_.OnReceive = nullptr;
}

Outcome Session::Open(const std::string& port_name) {
  port_.SetNameDevice(port_name);
  if (!port_.OpenDevice())
    return {Status::PortError, port_name + ": " + std::string(ErrorText(port_.LastError()))};
  port_.RaiseRtsDtr();
  engine_.SetButtonsEnabled(true);  // as the search window does once the port is open
  return {};
}

bool Session::AskContinue() {
  if (asked_ >= retries_) return false;
  ++asked_;
  EndProgress();
  std::fprintf(stderr, "Прибор не отвечает, повтор %d из %d\n", asked_, retries_);
  return true;
}

void Session::SetProgressPosition(int position) {
  asked_ = 0;  // a reply came: the retries count again from zero
  if (!progress_ || maximum_ <= 0) return;
  constexpr int kWidth = 40;
  const int filled = std::min(kWidth, position * kWidth / maximum_);
  std::string bar(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(kWidth - filled), '.');
  std::fprintf(stderr, "\r[%s] %d/%d", bar.c_str(), position, maximum_);
  progress_drawn_ = true;
}

void Session::EndProgress() {
  if (!progress_drawn_) return;
  std::fputc('\n', stderr);
  progress_drawn_ = false;
}

Outcome Session::RunExchange(const std::function<bool()>& done, std::chrono::milliseconds limit,
                             const char* what) {
  abandoned_ = false;
  const bool finished =
      loop_.RunUntil([&] { return done() || abandoned_ || !port_.IsOpen(); }, limit);
  EndProgress();
  if (finished && done()) return {};
  if (!port_.IsOpen())
    return {Status::LineLost, std::string(what) + ": " + std::string(ErrorText(port_.LastError()))};
  return {Status::NoAnswer, std::string(what) + ": Прибор не отвечает"};
}

Outcome Session::Identify() {
  device_line_.clear();
  asked_ = 0;
  engine_.SendIdentification();
  Outcome out = RunExchange([&] { return !device_line_.empty(); }, kExchangeLimit, "Поиск прибора");
  if (!out.ok()) return out;
  asked_ = 0;
  // The 212 that follows the reply is answered by some frame; let that answer arrive so that it
  // cannot be taken for the answer to the next request. A silent device is not an error here.
  loop_.RunUntil([&] { return !engine_.RequestOutstanding() || !port_.IsOpen(); }, 1000ms);
  engine_.state().send_buffer[1] = 0;
  return {};
}

Outcome Session::ReadImage() {
  read_result_ = 0;
  asked_ = 0;
  SetProgressMaximum(engine_.ImageLength());
  engine_.ButtonReadClick();
  Outcome out = RunExchange([&] { return read_result_ != 0; }, kExchangeLimit, "Чтение");
  if (out.ok() && read_result_ != 1) return {Status::NoAnswer, "Чтение прервано"};
  return out;
}

Outcome Session::WriteImage() {
  write_result_ = 0;
  asked_ = 0;
  SetProgressMaximum(engine_.ImageLength());
  engine_.ButtonWriteClick();  // zeroes bytes 127 to 130 of models 250 and 252 first
  sent_ = image_;
  sent_from_ = Exchange::WriteStart(engine_.DeviceModel());
  sent_to_ = engine_.ImageLength();
  Outcome out = RunExchange([&] { return write_result_ != 0; }, kExchangeLimit, "Запись");
  if (!out.ok() || write_result_ != 1) {
    const int offset = engine_.state().offset;
    return {Status::WriteStopped, "Запись прервана на смещении " + std::to_string(offset) + " из " +
                                      std::to_string(sent_to_) +
                                      (out.ok() ? "" : " (" + out.message + ")")};
  }
  return {};
}

Outcome Session::Verify() {
  Outcome out = ReadImage();
  if (!out.ok()) return out;
  for (int at = sent_from_; at < sent_to_; ++at) {
    if (image_[at] != sent_[at])
      return {Status::VerifyMismatch, "Сверка не прошла: смещение " + std::to_string(at) +
                                          ", записано " + Hex2(sent_[at]) + ", прочитано " +
                                          Hex2(image_[at])};
  }
  return {};
}

Outcome Session::LearnKey(std::chrono::seconds wait) {
  key_read_ = false;
  asked_ = 0;
  engine_.ButtonKeyClick();
  Outcome out = RunExchange([&] { return key_read_; }, wait, "Чтение ключа");
  if (out.ok()) return out;
  engine_.ButtonStopKeyClick();
  if (out.status == Status::NoAnswer && !abandoned_)
    return {Status::KeyTimeout, "Ключ не поднесён к считывателю"};
  return out;
}

}  // namespace lovar
