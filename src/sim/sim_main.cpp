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
#include "sim/sim_options.h"

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
  lovar::SimOptions o;
  CLI::App app;
  lovar::DefineSimOptions(app, o);
  CLI11_PARSE(app, argc, argv);
  int model = o.model;

  lovar::SimConfig config;
  config.firmware = o.firmware;
  config.key_after_polls = o.key_after;
  config.split_bytes = o.split;
  if (!o.key_text.empty() && (!ParseKey(o.key_text, config.key) || config.key[0] == 0)) {
    std::cerr << "lovar-sim: ключ должен быть из 16 шестнадцатеричных цифр, первый байт не 00: "
              << o.key_text << "\n";
    return 2;
  }
  for (const lovar::SimOptions::Fault& f : o.faults) {
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
  if (!o.image_path.empty()) {
    // Without --model the file says which device to play.
    if (o.model_option->count() == 0) {
      const int file_model = lovar::PeekFileModel(o.image_path);
      if (lovar::IsKnownModel(file_model)) model = file_model;
    }
    // A model 251 file holds the first 2048 bytes only; the rest (the keys among them) is the
    // built-in sample's, as a device keeps what a file does not carry.
    image = lovar::SampleImage(model);
    int bytes = 0;
    const lovar::FileResult result = lovar::LoadWholeImage(o.image_path, model, image, bytes);
    if (!result.ok()) {
      std::cerr << "lovar-sim: " << lovar::DescribeError(result) << "\n";
      return 2;
    }
  } else {
    image = lovar::SampleImage(model);
  }
  config.model = model;

  lovar::DeviceSim sim(config, image);
  lovar::PtyOptions options;
  options.pace = o.pace;
  options.link = o.link;
  if (!o.quiet) {
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
  if (!o.quiet) {
    std::fprintf(stderr, "lovar-sim: модель %d, версия %d, порт %s\n", model, o.firmware,
                 line.SlavePath().c_str());
  }

  const lovar::PtyLine::End end = line.Run();
  g_line = nullptr;
  int status = 0;
  if (end == lovar::PtyLine::End::Failed) {
    std::cerr << "lovar-sim: " << line.error() << "\n";
    status = 1;
  } else if (end == lovar::PtyLine::End::HungUp && !o.quiet) {
    std::cerr << "lovar-sim: линия положена\n";
  }
  if (!o.save_path.empty()) {
    const lovar::FileResult result = lovar::SaveConfigFile(o.save_path, model, sim.image());
    if (!result.ok()) {
      std::cerr << "lovar-sim: " << lovar::DescribeError(result) << "\n";
      status = 1;
    }
  }
  if (!o.save_whole_path.empty()) {
    const std::vector<uint8_t> whole = lovar::SerializeWholeImage(model, sim.image());
    const lovar::FileResult result = lovar::SaveFileReplacing(
        o.save_whole_path,
        std::string_view(reinterpret_cast<const char*>(whole.data()), whole.size()));
    if (!result.ok()) {
      std::cerr << "lovar-sim: " << lovar::DescribeError(result) << "\n";
      status = 1;
    }
  }
  return status;
}
