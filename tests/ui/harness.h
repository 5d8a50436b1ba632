// Helpers for driving the windows without a person: scripted answers to every modal question
// and dialog, and waiting on conditions while the event loop runs.
#pragma once

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest/QTest>
#include <functional>
#include <optional>
#include <vector>

#include "form1.h"
#include "form_key.h"
#include "page.h"
#include "parameters_page.h"
#include "protocol/exchange.h"
#include "sim/sim_port.h"
#include "ui_form1.h"
#include "ui_form_key.h"

namespace lovar::testing {

class ScriptedDialogs : public Dialogs {
 public:
  struct Shown {
    QString caption, text;
    bool warning;
  };
  bool AskContinue() override {
    ++continue_questions;
    return on_continue ? on_continue() : continue_answer;
  }
  void Message(const QString& caption, const QString& text, bool warning) override {
    messages.push_back({caption, text, warning});
  }
  bool AskYesNo(const QString& caption, const QString& text) override {
    messages.push_back({caption, text, false});
    return yes_no_answer;
  }
  QString OpenFileName(const QString& title, const QString& folder, const QString&,
                       const QString&) override {
    open_title = title;
    open_folder = folder;
    return open_answer;
  }
  QString SaveFileName(const QString& title, const QString& folder, const QString&, const QString&,
                       const QString&) override {
    save_title = title;
    save_folder = folder;
    return save_answer;
  }
  bool AskLoseChanges() override {
    ++lose_questions;
    return lose_answer;
  }
  bool AskWriteDespiteErrors(const std::vector<Finding>& findings) override {
    check_questions.push_back(findings);
    return write_despite_errors;
  }
  int ChooseArchived(const QString& folder, const std::vector<ArchivedRow>& rows) override {
    archive_folder = folder;
    archive_rows = rows;
    return archive_choice;
  }

  bool AskLine(const QString& caption, const QString& label, QString& text) override {
    lines.push_back({caption, label, text});
    if (!on_line) return true;
    std::optional<QString> answer = on_line(caption);
    if (!answer) return false;
    text = *answer;
    return true;
  }

  bool continue_answer = true;
  std::function<bool()> on_continue;  // when set, answers the no-answer question instead
  bool yes_no_answer = true;
  int continue_questions = 0;
  QString open_answer, save_answer;
  QString open_folder, save_folder;  // where the last dialogs started
  QString open_title, save_title;
  std::vector<Shown> messages;
  // "Изменения не записаны…": counted, and answered Yes unless a test says otherwise.
  bool lose_answer = true;
  int lose_questions = 0;
  // The question before a write with errors: the findings of each time asked, and the answer
  // ("Записать всё равно" unless a test says otherwise).
  std::vector<std::vector<Finding>> check_questions;
  bool write_despite_errors = true;
  // "Файл" → "Архив…": the list shown, and the row chosen (-1: none).
  int archive_choice = -1;
  QString archive_folder;
  std::vector<ArchivedRow> archive_rows;
  // The one-line questions asked (caption, label, the text offered), and the answer to each by
  // its caption: nullopt is Esc; without on_line, Enter on what was offered.
  struct Line {
    QString caption, label, offered;
  };
  std::vector<Line> lines;
  std::function<std::optional<QString>(const QString& caption)> on_line;
};

// Runs the event loop until pred holds or timeout_ms passes. It sleeps only until the next
// event (Timer1 ticks every 100 ms), unlike QTest::qWaitFor, whose 10 ms naps between passes
// would cost a round trip each and make a demo read of 512 requests take 5 s.
template <typename Pred>
bool WaitFor(Pred pred, int timeout_ms = 20000) {
  QElapsedTimer elapsed;
  elapsed.start();
  while (!pred()) {
    if (elapsed.elapsed() >= timeout_ms) return pred();
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
  return true;
}

// A search window for one test (a window session): the demo entries, after the serial ports given
// (none unless a test drives a real port). The main window keeps its files (the per-model folders,
// the archive) in a folder of the session's own.
struct UiSession {
  ScriptedDialogs dialogs;
  QTemporaryDir files;
  TFormKey form_key;
  bool program_ended = false;

  explicit UiSession(std::vector<std::string> ports = {}) : form_key(dialogs, std::move(ports)) {
    form_key.on_program_end = [this] { program_ended = true; };
    form_key.SetProgramFolder(files.path());
    form_key.show();
  }
  TForm1& form1() { return *form_key.Form1(); }
  Ui::TForm1& ui() { return form1().ui(); }
  ParametersPage& params() { return *static_cast<ParametersPage*>(form1().FindPage("TabSheet1")); }
  Ui::ParametersPage& pui() { return params().ui(); }
  SimPort& demo(int model) { return form1().Cport1().Demo(model); }

  // "Поиск" (which clears the device list) until a device line appears.
  bool Find() {
    form_key.ButtonFindClick();
    return WaitFor([&] { return form_key.ui().ListBoxDevice->count() > 0; });
  }
  // "Поиск" on the model's demo device until its line appears and "Старт" is shown.
  bool Identify(int model) {
    form_key.ChooseDemo(model);
    return Find() && WaitFor([&] { return !form_key.ui().ButtonCreate->isHidden(); });
  }
  // Waits until no request is outstanding and the exchange buttons are enabled again.
  bool WaitIdle() {
    return WaitFor([&] {
      return !form1().exchange().RequestOutstanding() && form1().exchange().ButtonsEnabled();
    });
  }
  // "Старт": shows the main window and reads the image.
  bool Start() {
    form_key.ButtonCreateClick();
    return WaitIdle();
  }
  // "Поиск" on a port typed into the combo box, until the device has answered.
  bool Search(const QString& port) {
    form_key.ui().ComboBoxComs->setEditText(port);
    return Find();
  }
};

#ifdef LOVAR_SIM_PATH
// Starts the lovar-sim process with args; returns the pseudo-terminal it serves (its first line
// of output), or an empty string when it did not start.
inline QString StartLovarSim(QProcess& sim, const QStringList& args) {
  sim.start(LOVAR_SIM_PATH, args + QStringList{"--quiet"});
  if (!sim.waitForStarted(10000) || !WaitFor([&] { return sim.canReadLine(); }, 20000)) return {};
  const QString port = QString::fromUtf8(sim.readLine()).trimmed();
  return port.startsWith('/') ? port : QString();
}
#endif

// Test classes register themselves; test_main.cpp runs them all.
using TestFactory = QObject* (*)();
inline std::vector<TestFactory>& TestRegistry() {
  static std::vector<TestFactory> registry;
  return registry;
}
inline bool RegisterTest(TestFactory factory) {
  TestRegistry().push_back(factory);
  return true;
}

// Leaving a control, as when the focus moves on with Tab.
inline void Leave(QWidget* widget) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(widget, &out);
}
// Typing characters one key at a time (any script, unlike QTest::keyClicks).
inline void Type(QWidget* widget, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
    QApplication::sendEvent(widget, &release);
  }
}
// Typing into an edit and leaving it.
inline void TypeAndLeave(QLineEdit* edit, const QString& text) {
  edit->clear();
  Type(edit, text);
  Leave(edit);
}
}  // namespace lovar::testing

#define LOVAR_UI_TEST(Class)             \
  static const bool kRegistered##Class = \
      ::lovar::testing::RegisterTest([]() -> QObject* { return new Class; });
