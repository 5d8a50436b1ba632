// Manual pages from a CLI11 definition: troff escaping, Russian headings, and the page of a
// small program with a command, a required option, a flag, a positional and a footer.
#include "manpage/man_page.h"

#include <gtest/gtest.h>

namespace lovar {
namespace {

TEST(ManPageTest, TextIsEscapedForTroff) {
  const struct {
    const char* text;
    const char* troff;
  } cases[] = {
      {"--port", "\\-\\-port"},
      {"C:\\dir", "C:\\edir"},
      {".dat at a line start", "\\&.dat at a line start"},
      {"'quoted\n.second line", "\\&'quoted\n\\&.second line"},
      {"a.b 'c'", "a.b 'c'"},
  };
  for (const auto& c : cases) EXPECT_EQ(TroffEscape(c.text), c.troff) << c.text;
}

TEST(ManPageTest, HeadingsAreUpperCaseInBothAlphabets) {
  EXPECT_EQ(UpperUtf8("Коды возврата: ёж, яма, abc 1"), "КОДЫ ВОЗВРАТА: ЁЖ, ЯМА, ABC 1");
}

TEST(ManPageTest, PageListsEveryOptionWithItsTypeDefaultAndCommand) {
  CLI::App app{"demo: пробная программа", "demo"};
  app.set_version_flag("--version", "demo 1", "Показать версию");
  app.footer("Коды возврата:\n  0  успешно\n  2  нет порта\nПросто текст\n");
  int retries = 3;
  app.add_option("--retries", retries, "Повторы")->default_val(3)->check(CLI::Range(0, 9));
  CLI::App* read = app.add_subcommand("read", "Считать");
  std::string port, file;
  bool verify = false;
  read->add_option("--port,-p", port, "Порт")->required();
  read->add_flag("--verify", verify, "Сверить");
  read->add_option("file", file, "Файл");
  // A command with commands of its own: each is listed by its whole name.
  std::string prefix;
  app.add_subcommand("sites", "Реестр")
      ->add_subcommand("list", "Список")
      ->add_option("prefix", prefix, "Начало номера");

  const std::string page = ManPage(app, {"2026-01-02", "demo 1", {"other(1)"}});
  for (const char* line : {
           ".TH DEMO 1 \"2026-01-02\" \"demo 1\" \"Ловар\"\n",
           ".SH ИМЯ\ndemo \\- пробная программа\n",
           "\\fBdemo\\fR \\fBread\\fR \\fB\\-\\-port\\fR \\fITEXT\\fR [\\fB\\-\\-verify\\fR] "
           "[\\fIfile\\fR]\n",
           ".TP\n\\fB\\-\\-retries\\fR \\fIINT\\fR\nПовторы (INT in [0 \\- 9]; по умолчанию 3)\n",
           ".SS read\nСчитать\n",
           "\\fBdemo\\fR \\fBsites list\\fR [\\fIprefix\\fR]\n",
           ".SS sites list\nСписок\n.TP\n\\fIprefix\\fR\nНачало номера\n",
           ".TP\n\\fB\\-p, \\-\\-port\\fR \\fITEXT\\fR\nПорт (обязательный)\n",
           ".TP\n\\fB\\-\\-verify\\fR\nСверить\n",
           ".SH КОДЫ ВОЗВРАТА\n.TP\n.B 0\nуспешно\n.TP\n.B 2\nнет порта\n.PP\nПросто текст\n",
           ".SH СМ. ТАКЖЕ\n.BR other (1)\n",
       }) {
    EXPECT_NE(page.find(line), std::string::npos) << "missing:\n" << line << "\nin:\n" << page;
  }
}

}  // namespace
}  // namespace lovar
