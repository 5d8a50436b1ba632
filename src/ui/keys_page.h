// The page "Ключи" (TabSheet2): the key grid StringGridKey with the keys' codes, their arming
// and disarming rights and, on model 251, their names; "Считать ключ" and "Удалить" beside it,
// and the key panel PanelKey of the key learning exchange ("Поднесите ключ" / "к считывателю",
// "Остановить", "Записать").
//
// The grid's cell texts are the working copy: the image changes only when the grid is committed
// (StringGridKeyExit), which happens when the grid or the page loses the focus, after a key is
// stored or deleted, and in Commit() before a write or a save.
//
// Threads: window thread only.
#pragma once

#include <QObject>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <functional>
#include <set>

#include "grid.h"
#include "page.h"
#include "ui_keys_page.h"

class QLineEdit;

namespace lovar {

class KeysPage : public QObject, public Page {
  Q_OBJECT
 public:
  KeysPage(PageHost& host, QWidget* tab);
  ~KeysPage() override;

  void ApplyModelSetup(const WindowSetup& setup) override;
  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;
  void SetExchangeButtonsEnabled(bool enabled) override;
  void SetEditKey(const QString& text) override;
  void KeyPollingStarted() override;
  void KeyRead() override;
  void KeyStopped() override;
  void PageChanging() override;

  Ui::KeysPage& ui() { return ui_; }

  // Handlers, under the form's names.
  void ButtonKeyClick();
  void ButtonStopKeyClick();
  void ButtonWriteKeyClick();
  void Button2Click();
  // The key grid as a whole into the image.
  void StringGridKeyExit();
  // Mouse press on a cell: a rights cell toggles.
  void StringGridCodeMouseDown(int row, int column);
  // Click on a cell: column 1 of a key row starts a key read.
  void StringGridCodeClick(int row, int column);

  // The key rows are grid rows 1 to 16; the rights columns 2 to 9 (arming ШС1..4, then
  // disarming ШС1..4); column 10 the name.
  static constexpr int kFirstRightsColumn = 2;
  static constexpr int kNameColumn = 10;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildColumns();
  void LabelRows();
  void FitWidth(int wanted);
  void SetNamesEditable(bool editable);
  int CurrentKeyRow() const;
  void OnFocusChanged(QWidget* old, QWidget* now);

  Ui::KeysPage ui_;
  QWidget* tab_;
  grid::Delegate* delegate_;
  KeyRowLabels row_labels_ = KeyRowLabels::RowMinusOne;
  bool committing_ = false;
  bool names_editable_ = true;  // the form's grid; model 251's
};

}  // namespace lovar
