// The page "Коды" (TabSheet3, model 250): the user code grid StringGridCode with 20 codes of 4
// digits, the duress codes and the arming and disarming rights per loop. The first code is the
// installer's code, which the display routine makes the password of the next read.
//
// The cell texts are the working copy; the image changes when the grid loses the focus
// (StringGridCodeExit) and in Commit() while the grid holds the focus.
//
// Threads: window thread only.
#pragma once

#include <QObject>

#include "grid.h"
#include "model/catalog.h"
#include "page.h"
#include "ui_codes_page.h"

namespace lovar {

// What a code cell shows of its field: the digits as the catalog reads them, the digits 10 to 15
// a device may hold written ':' to '?'; empty for no code.
QString CodeCellText(const Field& field, const ConfigImage& image);
// The installer's code as the grid's first row shows it (models 250 and 252).
QString InstallerCodeText(const ConfigImage& image, int model);

class CodesPage : public QObject, public Page {
  Q_OBJECT
 public:
  CodesPage(PageHost& host, QWidget* tab);

  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;
  std::optional<QString> FirstUserCode() const override;

  Ui::CodesPage& ui() { return ui_; }

  // The grid as a whole into the image.
  void StringGridCodeExit();
  // Mouse press: a rights cell toggles.
  void StringGridCodeMouseDown(int row, int column);

  // Entry rows 1 to 20; column 1 the code, 2 the duress code, 3 to 10 the rights (arming ШС1..4,
  // then disarming ШС1..4).
  static constexpr int kFirstRightsColumn = 3;

  // The text shown instead of a duress code in the first entry row.
  static QString InstallerCell() { return QStringLiteral("Код Уст"); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  bool AcceptCode(int row, int column, const QString& text);

  Ui::CodesPage ui_;
  grid::Delegate* delegate_;
  bool committing_ = false;
};

}  // namespace lovar
