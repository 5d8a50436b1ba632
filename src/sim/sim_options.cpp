#include "sim/sim_options.h"

#include "model/model_setup.h"
#include "version/version.h"

namespace lovar {

void DefineSimOptions(CLI::App& app, SimOptions& o) {
  app.name("lovar-sim");
  app.description(
      "Имитатор УО на псевдотерминале: печатает путь порта первой строкой и отвечает "
      "на запросы до SIGINT/SIGTERM.");
  app.set_version_flag("--version", std::string("lovar-sim ") + kVersion, "Показать версию");
  app.footer(
      "Номер запроса N считается с 1 от запуска имитатора; N/КАЖДЫЙ — запрос N и каждый "
      "КАЖДЫЙ-й после него.\n");
  o.faults = {
      {"--drop", FaultKind::Drop, false, "не отвечать на запрос N (N или N/КАЖДЫЙ)", {}},
      {"--bad-crc", FaultKind::BadCrc, false, "неверная CRC в ответе (N или N/КАЖДЫЙ)", {}},
      {"--noise", FaultKind::Noise, false, "шум перед ответом (N или N/КАЖДЫЙ)", {}},
      {"--burst", FaultKind::Burst, false, "лишний кадр 211 вместе с ответом (N или N/КАЖДЫЙ)", {}},
      {"--delay", FaultKind::Delay, true, "задержать ответ на МС мс (N:МС или N/КАЖДЫЙ:МС)", {}},
      {"--duplicate", FaultKind::Duplicate, false, "ответ дважды (N или N/КАЖДЫЙ)", {}},
      {"--wrong-seq", FaultKind::WrongSeq, false, "ответ с чужим номером (N или N/КАЖДЫЙ)", {}},
      {"--hangup", FaultKind::HangUp, false, "положить линию вместо ответа (N или N/КАЖДЫЙ)", {}},
      {"--lose",
       FaultKind::Lost,
       false,
       "запрос потерян по дороге: не сохранён, без ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--unhandled", FaultKind::Unhandled, false, "кадр 211 вместо ответа (N или N/КАЖДЫЙ)", {}},
      {"--empty", FaultKind::Empty, false, "ответ без данных (N или N/КАЖДЫЙ)", {}},
      {"--short",
       FaultKind::Short,
       false,
       "кадр без кода команды (L = 4) вместо ответа (N или N/КАЖДЫЙ)",
       {}},
      {"--no-store",
       FaultKind::Unstored,
       false,
       "подтвердить запись блока, но не сохранить его (N или N/КАЖДЫЙ)",
       {}},
  };

  o.model_option = app.add_option("--model", o.model, "модель УО: " + KnownModelsText())
                       ->check(CLI::IsMember(KnownModels()));
  app.add_option("--firmware", o.firmware, "байт версии прошивки (12 = 2.2)")
      ->check(CLI::Range(0, 255));
  app.add_option(
      "--image", o.image_path,
      "файл конфигурации с образом УО (чего в файле нет, берётся из встроенного образа; файл "
      "архива даёт и ключи)");
  app.add_option("--key-after", o.key_after, "сколько опросов ключа отвечать «нет ключа»")
      ->check(CLI::NonNegativeNumber);
  app.add_option("--key", o.key_text, "ключ: 16 шестнадцатеричных цифр, первый байт не 0");
  for (SimOptions::Fault& f : o.faults) {
    app.add_option(f.name, f.values, std::string(f.help) + "; можно повторять")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  }
  app.add_flag("--split", o.split, "каждый ответ по одному байту");
  app.add_flag("--pace", o.pace, "темп линии 9600 бод в обе стороны");
  app.add_option("--link", o.link, "создать ещё и символьную ссылку на порт");
  app.add_option("--save", o.save_path, "при выходе сохранить образ в файл конфигурации");
  app.add_option("--save-whole", o.save_whole_path,
                 "при выходе сохранить весь образ, как его хранит архив (с ключами)");
  app.add_flag("--quiet", o.quiet, "не печатать запросы");
}

}  // namespace lovar
