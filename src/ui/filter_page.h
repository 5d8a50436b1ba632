// The page "Фильтр" (TabSheet7, model 251): the event filter grid StringGridFiltr, one row per
// event and one column per report direction. A click marks or unmarks a cell; the five masks
// are stored when the grid loses the focus (StringGridFiltrExit), and in Commit() while it holds
// the focus.
//
// Threads: window thread only.
#pragma once

#include <QObject>

#include "grid.h"
#include "page.h"
#include "ui_filter_page.h"

namespace lovar {

class FilterPage : public QObject, public Page {
  Q_OBJECT
 public:
  FilterPage(PageHost& host, QWidget* tab);

  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;

  Ui::FilterPage& ui() { return ui_; }

  void StringGridFiltrClick(int row, int column);
  void StringGridFiltrExit();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  Ui::FilterPage ui_;
};

}  // namespace lovar
