// lovar-sim: a simulated device on a pseudo-terminal. Prints the port path on the first line of
// stdout and serves the line until SIGINT or SIGTERM (or a hang-up fault).
#include <signal.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "files/config_file.h"
#include "sim/device_sim.h"
#include "sim/pty_line.h"

namespace {

// Lock-free, so the signal handler may read it.
std::atomic<lovar::PtyLine*> g_line{nullptr};

extern "C" void OnSignal(int) {
  if (lovar::PtyLine* line = g_line.load()) line->Stop();
}

bool ParseInt(const std::string& text, int& value) {
  if (text.empty() || text.size() > 9) return false;
  value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  return true;
}

// "N" or "N/EVERY", with ":MS" after it when with_ms.
std::optional<lovar::FaultRule> ParseRule(const std::string& text, lovar::FaultKind kind,
                                          bool with_ms) {
  lovar::FaultRule rule{kind};
  std::string rest = text;
  if (with_ms) {
    const size_t colon = rest.find(':');
    if (colon == std::string::npos || !ParseInt(rest.substr(colon + 1), rule.param)) return {};
    rest.resize(colon);
  }
  const size_t slash = rest.find('/');
  if (slash != std::string::npos) {
    if (!ParseInt(rest.substr(slash + 1), rule.every) || rule.every < 1) return {};
    rest.resize(slash);
  }
  if (!ParseInt(rest, rule.at) || rule.at < 1) return {};
  return rule;
}

bool ParseKey(const std::string& text, std::array<uint8_t, 8>& key) {
  if (text.size() != 16) return false;
  for (size_t i = 0; i < 8; ++i) {
    int byte = 0;
    for (size_t j = 0; j < 2; ++j) {
      const char c = text[2 * i + j];
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return false;
      }
      byte = byte * 16 + digit;
    }
    key[i] = static_cast<uint8_t>(byte);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{
      "Имитатор УО на псевдотерминале: печатает путь порта первой строкой и отвечает "
      "на запросы до SIGINT/SIGTERM.",
      "lovar-sim"};
  int model = 251;
  int firmware = 12;
  int key_after = 3;
  std::string image_path, key_text, link, save_path;
  bool split = false, pace = false, quiet = false;
  struct FaultOption {
    const char* name;
    lovar::FaultKind kind;
    bool with_ms;
    const char* help;
    std::vector<std::string> values;
  };
  std::vector<FaultOption> fault_options = {
      {"--drop", lovar::FaultKind::Drop, false, "не отвечать на запрос N (N или N/КАЖДЫЙ)", {}},
      {"--bad-crc", lovar::FaultKind::BadCrc, false, "неверная CRC в ответе (N или N/КАЖДЫЙ)", {}},
      {"--noise", lovar::FaultKind::Noise, false, "шум перед ответом (N или N/КАЖДЫЙ)", {}},
      {"--burst",
       lovar::FaultKind::Burst,
       false,
       "лишний кадр 211 вместе с ответом (N или N/КАЖДЫЙ)",
       {}},
      {"--delay",
       lovar::FaultKind::Delay,
       true,
       "задержать ответ на МС мс (N:МС или N/КАЖДЫЙ:МС)",
       {}},
      {"--duplicate", lovar::FaultKind::Duplicate, false, "ответ дважды (N или N/КАЖДЫЙ)", {}},
      {"--wrong-seq",
       lovar::FaultKind::WrongSeq,
       false,
       "ответ с чужим номером (N или N/КАЖДЫЙ)",
       {}},
      {"--hangup",
       lovar::FaultKind::HangUp,
       false,
       "положить линию вместо ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--lose",
       lovar::FaultKind::Lost,
       false,
       "запрос потерян по дороге: не сохранён, без ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--unhandled",
       lovar::FaultKind::Unhandled,
       false,
       "кадр 211 вместо ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--empty", lovar::FaultKind::Empty, false, "ответ без данных (N или N/КАЖДЫЙ)", {}},
      {"--short",
       lovar::FaultKind::Short,
       false,
       "кадр без кода команды (L = 4) вместо ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--no-store",
       lovar::FaultKind::Unstored,
       false,
       "подтвердить запись блока, но не сохранить его (N или N/КАЖДЫЙ)",
       {}},
  };

  CLI::Option* model_option = app.add_option("--model", model, "модель УО: 250, 251 или 252")
                                  ->check(CLI::IsMember({250, 251, 252}));
  app.add_option("--firmware", firmware, "байт версии прошивки (12 = 2.2)")
      ->check(CLI::Range(0, 255));
  app.add_option(
      "--image", image_path,
      "файл конфигурации с образом УО (чего в файле нет, берётся из встроенного образа)");
  app.add_option("--key-after", key_after, "сколько опросов ключа отвечать «нет ключа»")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--key", key_text, "ключ: 16 шестнадцатеричных цифр, первый байт не 0");
  for (FaultOption& f : fault_options) {
    app.add_option(f.name, f.values, std::string(f.help) + "; можно повторять")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  app.add_flag("--split", split, "каждый ответ по одному байту");
  app.add_flag("--pace", pace, "темп линии 9600 бод в обе стороны");
  app.add_option("--link", link, "создать ещё и символьную ссылку на порт");
  app.add_option("--save", save_path, "при выходе сохранить образ в файл конфигурации");
  app.add_flag("--quiet", quiet, "не печатать запросы");
  CLI11_PARSE(app, argc, argv);

  lovar::SimConfig config;
  config.firmware = firmware;
  config.key_after_polls = key_after;
  config.split_bytes = split;
  if (!key_text.empty() && (!ParseKey(key_text, config.key) || config.key[0] == 0)) {
    std::cerr << "lovar-sim: ключ должен быть из 16 шестнадцатеричных цифр, первый байт не 00: "
              << key_text << "\n";
    return 2;
  }
  for (const FaultOption& f : fault_options) {
    for (const std::string& v : f.values) {
      std::optional<lovar::FaultRule> rule = ParseRule(v, f.kind, f.with_ms);
      if (!rule) {
        std::cerr << "lovar-sim: неверное значение " << f.name << ": " << v << "\n";
        return 2;
      }
      config.faults.push_back(*rule);
    }
  }

  lovar::ConfigImage image;
  if (!image_path.empty()) {
    // Without --model the file says which device to play.
    if (model_option->count() == 0) {
      const int file_model = lovar::PeekFileModel(image_path);
      if (lovar::IsKnownModel(file_model)) model = file_model;
    }
    // A model 251 file holds the first 2048 bytes only; the rest (the keys among them) is the
    // built-in sample's, as a device keeps what a file does not carry.
    image = lovar::SampleImage(model);
    const lovar::FileResult result = lovar::LoadConfigFile(image_path, model, image);
    if (!result.ok()) {
      std::cerr << "lovar-sim: " << image_path << ": " << lovar::DescribeError(result) << "\n";
      return 2;
    }
  } else {
    image = lovar::SampleImage(model);
  }
  config.model = model;

  lovar::DeviceSim sim(config, image);
  lovar::PtyOptions options;
  options.pace = pace;
  options.link = link;
  if (!quiet) {
    options.log = [](std::string_view line) {
      std::string text(line);
      text.push_back('\n');
      std::fwrite(text.data(), 1, text.size(), stderr);
    };
  }
  lovar::PtyLine line(sim, options);
  std::string error;
  if (!line.Open(error)) {
    std::cerr << "lovar-sim: " << error << "\n";
    return 1;
  }

  g_line = &line;
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);

  std::printf("%s\n", line.SlavePath().c_str());
  std::fflush(stdout);
  if (!quiet) {
    std::fprintf(stderr, "lovar-sim: модель %d, версия %d, порт %s\n", model, firmware,
                 line.SlavePath().c_str());
  }

  const lovar::PtyLine::End end = line.Run();
  g_line = nullptr;
  int status = 0;
  if (end == lovar::PtyLine::End::Failed) {
    std::cerr << "lovar-sim: " << line.error() << "\n";
    status = 1;
  } else if (end == lovar::PtyLine::End::HungUp && !quiet) {
    std::cerr << "lovar-sim: линия положена\n";
  }
  if (!save_path.empty()) {
    const lovar::FileResult result = lovar::SaveConfigFile(save_path, model, sim.image());
    if (!result.ok()) {
      std::cerr << "lovar-sim: " << save_path << ": " << lovar::DescribeError(result) << "\n";
      status = 1;
    }
  }
  return status;
}
