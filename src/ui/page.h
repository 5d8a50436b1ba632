// The seam between the main window TForm1 and its settings pages. Each page of PageControl1
// (TabSheet1 "Параметры", TabSheet2 "Ключи", TabSheet3 "Коды", TabSheet6 "Параметры передачи",
// TabSheet7 "Фильтр", TabSheet8 "GPRS") is one Page object that fills its tab sheet with its own
// form (a Designer .ui file of its own) and keeps its editors.
//
// How a page plugs in:
//   1. Write a class derived from Page, e.g. KeysPage in src/ui/keys_page.{h,cpp,ui}. Its
//      constructor receives the host and an empty widget with no layout (named e.g.
//      "TabSheet2Content") that the main window has put into a frameless scroll area on the
//      tab sheet "TabSheet2"; it builds its form on that widget, e.g.
//        KeysPage::KeysPage(PageHost& host, QWidget* tab) : Page(host) { ui_.setupUi(tab); }
//      with the .ui file's top-level widget a QWidget with a layout (setupUi keeps the widget's
//      object name, since it is already set). The scroll area keeps the window at its model's
//      size whatever the page's minimum size; a page should still fit the window's width
//      (562 pixels) at the default font, so that only a larger font or scaling scrolls.
//   2. Register it once, at namespace scope in its .cpp file:
//        LOVAR_REGISTER_PAGE(TabSheet2, KeysPage)
//      The main window creates every registered page when it is created. Every .cpp and .ui
//      file in src/ui is built into the windows (CMake globs the folder), so nothing else has
//      to be edited. A tab sheet without a registered page stays an empty container.
//   3. Give the controls the object names of the forms: the per-model set-up hides and shows
//      them by name (findChild over the whole main window), and the tests find them by name.
//      A control's binding to the image is its catalog field, found by its object name for the
//      device's model (BoundField in binding.h).
//
// Threads: everything here runs on the window thread.
#pragma once

#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "check/check.h"
#include "model/config_image.h"
#include "window_setup.h"

namespace lovar {

class Session;

// One line of the archive's list: when the device was read, its model, its object number.
struct ArchivedRow {
  QString when, model, object;
};

// The modal questions and dialogs of the windows, replaceable in the tests.
class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // "Прибор не отвечает" / "Продолжить?", OK (true) / Cancel.
  virtual bool AskContinue() = 0;
  // A message box with an OK button (information or warning).
  virtual void Message(const QString& caption, const QString& text, bool warning) = 0;
  // A message box with Yes (true) and No, e.g. "Такой ключ уже есть" / "Удалить старый?".
  virtual bool AskYesNo(const QString& caption, const QString& text) = 0;
  // The file dialogs, with their title; an empty result means cancelled. filter is e.g. "*.dat".
  virtual QString OpenFileName(const QString& title, const QString& folder, const QString& filter,
                               const QString& file_name) = 0;
  virtual QString SaveFileName(const QString& title, const QString& folder, const QString& filter,
                               const QString& default_suffix, const QString& file_name) = 0;
  // "Изменения не записаны в УО и не сохранены в файл. Продолжить?", Yes (true) / No.
  virtual bool AskLoseChanges() = 0;
  // Before "Записать в УО" when the check found errors: the errors listed, "Записать всё равно"
  // (true) / "Вернуться" (the default).
  virtual bool AskWriteDespiteErrors(const std::vector<Finding>& findings) = 0;
  // "Файл" → "Архив…": the archive's files in folder, newest first; the row to load, or -1.
  virtual int ChooseArchived(const QString& folder, const std::vector<ArchivedRow>& rows) = 0;
  // One line asked for ("Техник", "Причина"): text comes in as the edit's start and goes out
  // as typed; false when cancelled (Esc), text then unchanged. Enter on an empty line is an
  // answer.
  virtual bool AskLine(const QString& caption, const QString& label, QString& text) = 0;
};

// What the main window offers its pages. An editor reports nothing of its edits: the session
// compares the image with its undo history's snapshot after every user event, so whatever an
// editor stored becomes one undo step.
class PageHost {
 public:
  virtual ~PageHost() = default;
  // The one configuration image; editors write straight into it.
  virtual ConfigImage& Image() = 0;
  // From the last identification reply.
  virtual int DeviceModel() const = 0;
  virtual int FirmwareVersion() const = 0;
  // Most editors set the main progress bar ProgressBar1 back to 0.
  virtual void ResetProgress() = 0;
  // The window's session: the keys page runs key learning through it (LearnKey, StopKey,
  // KeyText()).
  virtual Session& session() = 0;
  virtual Dialogs& dialogs() = 0;
  // One line in the main window's status bar.
  virtual void ShowStatus(const QString& text) = 0;
  // Whether the pages show the image as it stands: false while a read stores into it, after a
  // read that ended early and after another model's identification. A page stores nothing of
  // its own (a grid committed as a whole) while it is false: its controls hold another image.
  virtual bool PagesShowImage() const { return true; }
};

class Page {
 public:
  explicit Page(PageHost& host) : host_(host) {}
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // Per-model set-up of the page's own items that are not plain visibility (the key grid's
  // column count, width and row labels). Called on every identification of model 250, 251 or
  // 252: first with CreationWindowSetup() (back to the state as created), then with the
  // model's. Shown/hidden controls of the set-up table are applied by the main window by name.
  virtual void ApplyModelSetup(const WindowSetup& /*setup*/) {}

  // Fills the page's controls from the image (the display routine UpDate); the image is only
  // read (its out-of-range bytes were put right by NormalizeImage when it was read or loaded).
  // Called only for a known model, in its window set-up's display_order (window_setup.cpp).
  // Pages of tabs the model hides are displayed as well (their controls simply stay unseen). A page
  // must not rely on another page's display. Also called alone, in the same order, after an undo or
  // a redo and when a write took part of the image from the device: a page shows whatever the image
  // holds.
  virtual void Display(const ConfigImage& image, int model, int firmware) = 0;

  // Stores into the image whatever the page shows but has not stored yet: the value in the
  // control that still has the focus, the key grid as a whole. Called before a write
  // ("Записать в УО") and before a save ("Сохранить"), so nothing typed is lost because the
  // menu or a shortcut took no focus. Must be harmless when nothing is pending.
  virtual void Commit() {}

  // The codes page only: the text of StringGridCode column 1, row 1 as displayed; for models
  // 250 and 252 the display routine makes it the password gate's stored password.
  virtual std::optional<QString> FirstUserCode() const { return std::nullopt; }

  // The session's key-learning events, forwarded to every page (the keys page holds
  // ButtonKey, PanelKey, PanelSetKey, EditKey, ButtonStopKey and ButtonWriteKey).
  virtual void SetExchangeButtonsEnabled(bool /*enabled*/) {}  // ButtonKey
  virtual void SetEditKey(const QString& /*text*/) {}
  virtual void KeyPollingStarted() {}
  virtual void KeyRead() {}
  virtual void KeyStopped() {}
  // The active page is about to change (PageControl1Changing): hide PanelSetKey and PanelKey.
  virtual void PageChanging() {}

 protected:
  PageHost& host() { return host_; }
  const PageHost& host() const { return host_; }

 private:
  PageHost& host_;
};

// Page registry, filled by LOVAR_REGISTER_PAGE at static initialisation.
using PageFactory = std::function<std::unique_ptr<Page>(PageHost& host, QWidget* tab)>;
bool RegisterPage(std::string_view tab_sheet, PageFactory factory);
// The factory registered for a tab sheet, or an empty function.
PageFactory FindPageFactory(std::string_view tab_sheet);

}  // namespace lovar

#define LOVAR_REGISTER_PAGE(TabSheetName, PageClass)                                               \
  namespace {                                                                                      \
  const bool kRegistered_##TabSheetName = ::lovar::RegisterPage(                                   \
      #TabSheetName, [](::lovar::PageHost& host, QWidget* tab) -> std::unique_ptr<::lovar::Page> { \
        return std::make_unique<PageClass>(host, tab);                                             \
      });                                                                                          \
  }
