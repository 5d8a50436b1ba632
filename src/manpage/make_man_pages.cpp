// Writes the manual pages lovar-cli.1 and lovar-sim.1 into the folder given, from the same
// option definitions the programs parse with. Run by the build.
#include <cstdio>
#include <fstream>
#include <string>

#include "cli/cli_options.h"
#include "manpage/man_page.h"
#include "sim/sim_options.h"
#include "version/build_date.h"
#include "version/version.h"

namespace {

bool Write(const std::string& path, const std::string& text) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << text;
  file.close();
  if (!file) std::fprintf(stderr, "make_man_pages: cannot write %s\n", path.c_str());
  return static_cast<bool>(file);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_man_pages OUTPUT_FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  const std::string source = std::string("lovar ") + lovar::kVersion;

  lovar::CliOptions cli_options;
  CLI::App cli;
  lovar::DefineCliOptions(cli, cli_options);
  lovar::SimOptions sim_options;
  CLI::App sim;
  lovar::DefineSimOptions(sim, sim_options);

  const bool ok = Write(folder + "/lovar-cli.1",
                        lovar::ManPage(cli, {lovar::kBuildDate, source, {"lovar-sim(1)"}})) &&
                  Write(folder + "/lovar-sim.1",
                        lovar::ManPage(sim, {lovar::kBuildDate, source, {"lovar-cli(1)"}}));
  return ok ? 0 : 1;
}
