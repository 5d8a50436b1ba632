#include "manpage/man_page.h"

#include <sstream>
#include <utility>
#include <vector>

namespace lovar {
namespace {

// "-p, --port" of an option, or its name when positional.
std::string OptionNames(const CLI::Option& opt) {
  if (!opt.nonpositional()) return opt.get_name(true);
  std::string names;
  for (const std::string& s : opt.get_snames()) names += (names.empty() ? "-" : ", -") + s;
  for (const std::string& l : opt.get_lnames()) names += (names.empty() ? "--" : ", --") + l;
  return names;
}

// CLI11's type names carry the checks after a colon ("INT:INT in [0 - 1000]"); the page shows
// the plain type as the argument and the check in the text. A flag has no type name.
void SplitType(const std::string& type, std::string& plain, std::string& check) {
  const size_t colon = type.find(':');
  plain = type.substr(0, colon);
  check = colon == std::string::npos ? "" : type.substr(colon + 1);
}

void WriteOption(std::ostringstream& out, const CLI::Option& opt) {
  std::string plain, check;
  SplitType(opt.get_type_name(), plain, check);
  out << ".TP\n";
  if (opt.nonpositional()) {
    out << "\\fB" << TroffEscape(OptionNames(opt)) << "\\fR";
    if (!plain.empty()) out << " \\fI" << TroffEscape(plain) << "\\fR";
  } else {
    out << "\\fI" << TroffEscape(OptionNames(opt)) << "\\fR";
  }
  out << "\n" << TroffEscape(opt.get_description());
  std::string notes;
  if (!check.empty()) notes += check;
  if (!opt.get_default_str().empty())
    notes += (notes.empty() ? "" : "; ") + std::string("по умолчанию ") + opt.get_default_str();
  if (opt.get_required()) notes += (notes.empty() ? "" : "; ") + std::string("обязательный");
  if (!notes.empty()) out << " (" << TroffEscape(notes) << ")";
  out << "\n";
}

// The options of app that the page lists: all but --help, which every program has, and those
// hidden from the help (an empty group).
std::vector<const CLI::Option*> ListedOptions(const CLI::App& app) {
  return app.get_options([&](const CLI::Option* o) {
    return o != app.get_help_ptr() && !o->get_group().empty();
  });
}

void WriteSynopsis(std::ostringstream& out, const std::string& program, const CLI::App& command,
                   const std::string& command_name) {
  out << ".br\n\\fB" << TroffEscape(program) << "\\fR";
  if (!command_name.empty()) out << " \\fB" << TroffEscape(command_name) << "\\fR";
  for (const CLI::Option* opt : ListedOptions(command)) {
    if (opt == command.get_version_ptr()) continue;
    std::string plain, check;
    SplitType(opt->get_type_name(), plain, check);
    std::string item;
    if (!opt->nonpositional()) {
      item = "\\fI" + TroffEscape(opt->get_name(true)) + "\\fR";
    } else {
      const std::string first = opt->get_lnames().empty() ? "-" + opt->get_snames().front()
                                                          : "--" + opt->get_lnames().front();
      item = "\\fB" + TroffEscape(first) + "\\fR";
      if (!plain.empty()) item += " \\fI" + TroffEscape(plain) + "\\fR";
    }
    out << " " << (opt->get_required() ? item : "[" + item + "]");
  }
  out << "\n";
}

void WriteFooter(std::ostringstream& out, const std::string& footer) {
  std::istringstream lines(footer);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    if (line.back() == ':' && line[0] != ' ') {
      out << ".SH " << TroffEscape(UpperUtf8(line.substr(0, line.size() - 1))) << "\n";
    } else if (line.rfind("  ", 0) == 0) {
      const size_t term_start = line.find_first_not_of(' ');
      const size_t term_end = line.find("  ", term_start);
      out << ".TP\n.B " << TroffEscape(line.substr(term_start, term_end - term_start)) << "\n";
      if (term_end != std::string::npos)
        out << TroffEscape(line.substr(line.find_first_not_of(' ', term_end))) << "\n";
    } else {
      out << ".PP\n" << TroffEscape(line) << "\n";
    }
  }
}

// The commands as a user types them: "read", and for a command with commands of its own each
// of those ("sites list"), in the order they were defined.
std::vector<std::pair<std::string, CLI::App*>> CommandsOf(CLI::App& app,
                                                          const std::string& prefix = "") {
  std::vector<std::pair<std::string, CLI::App*>> out;
  for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
    const std::string name = prefix + command->get_name();
    const auto nested = CommandsOf(*command, name + " ");
    if (nested.empty())
      out.emplace_back(name, command);
    else
      out.insert(out.end(), nested.begin(), nested.end());
  }
  return out;
}

}  // namespace

std::string TroffEscape(const std::string& text) {
  std::string out;
  bool line_start = true;
  for (const char c : text) {
    if (line_start && (c == '.' || c == '\'')) out += "\\&";
    if (c == '\\')
      out += "\\e";
    else if (c == '-')
      out += "\\-";
    else
      out += c;
    line_start = c == '\n';
  }
  return out;
}

std::string UpperUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const auto next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
    if (c >= 'a' && c <= 'z') {
      out += static_cast<char>(c - 'a' + 'A');
    } else if (c == 0xD0 && next >= 0xB0 && next <= 0xBF) {  // а..п
      out += '\xD0';
      out += static_cast<char>(next - 0x20);
      ++i;
    } else if (c == 0xD1 && next >= 0x80 && next <= 0x8F) {  // р..я
      out += '\xD0';
      out += static_cast<char>(next + 0x20);
      ++i;
    } else if (c == 0xD1 && next == 0x91) {  // ё
      out += "\xD0\x81";
      ++i;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

std::string ManPage(CLI::App& app, const ManPageInfo& info) {
  const std::string name = app.get_name();
  std::string summary = app.get_description();
  if (summary.rfind(name + ": ", 0) == 0) summary = summary.substr(name.size() + 2);

  std::ostringstream out;
  out << ".\\\" Generated from the program's option definitions; do not edit.\n";
  out << ".TH " << TroffEscape(UpperUtf8(name)) << " 1 \"" << info.date << "\" \""
      << TroffEscape(info.source) << "\" \"Ловар\"\n";
  out << ".SH ИМЯ\n" << TroffEscape(name) << " \\- " << TroffEscape(summary) << "\n";

  const auto commands = CommandsOf(app);
  out << ".SH СИНТАКСИС\n";
  if (commands.empty()) {
    WriteSynopsis(out, name, app, "");
  } else {
    for (const auto& [command_name, command] : commands)
      WriteSynopsis(out, name, *command, command_name);
    out << ".br\n\\fB" << TroffEscape(name) << "\\fR \\fB\\-\\-version\\fR | \\fB\\-\\-help\\fR\n";
  }

  out << ".SH ПАРАМЕТРЫ\n";
  for (const CLI::Option* opt : ListedOptions(app)) WriteOption(out, *opt);
  out << ".TP\n\\fB\\-h, \\-\\-help\\fR\nПоказать справку и выйти\n";

  if (!commands.empty()) {
    out << ".SH КОМАНДЫ\n";
    for (const auto& [command_name, command] : commands) {
      out << ".SS " << TroffEscape(command_name) << "\n"
          << TroffEscape(command->get_description()) << "\n";
      for (const CLI::Option* opt : ListedOptions(*command)) WriteOption(out, *opt);
    }
  }

  WriteFooter(out, app.get_footer());

  if (!info.see_also.empty()) {
    out << ".SH СМ. ТАКЖЕ\n";
    for (size_t i = 0; i < info.see_also.size(); ++i) {
      const std::string& page = info.see_also[i];
      const size_t paren = page.find('(');
      out << ".BR " << TroffEscape(page.substr(0, paren)) << " " << page.substr(paren)
          << (i + 1 < info.see_also.size() ? " ," : "") << "\n";
    }
  }
  return out.str();
}

}  // namespace lovar
