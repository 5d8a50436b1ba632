// The page "GPRS" (TabSheet8, model 251): the modem initialisation string, the GPRS user name
// and password, the receiving station's IP address and port, and three network edits (the
// device's own address and name servers) that are not part of the image. Each editor writes
// its field when its edit is left; Commit() runs the editor of the edit that holds the focus.
//
// Threads: window thread only.
#pragma once

#include <QObject>

#include "editor_events.h"
#include "model/catalog.h"
#include "page.h"
#include "ui_gprs_page.h"

class QLineEdit;

namespace lovar {

class GprsPage : public QObject, public Page {
  Q_OBJECT
 public:
  GprsPage(PageHost& host, QWidget* tab);

  void Display(const ConfigImage& image, int model, int firmware) override;
  void Commit() override;

  Ui::GprsPage& ui() { return ui_; }

  // Editors, on leaving the edit. The texts are cut to their field's width as they are typed
  // or pasted; an address that is none is refused with a message (see ip_edit.h for typing).
  void EditInitExit();
  void EditNameIPExit(QLineEdit* edit);  // EditNameIP, EditPasIP
  void EditIPPCOExit();
  void EditPortPCOExit();

 private:
  // The field the device's model binds the edit to; null (on models 250 and 252) makes every
  // editor of the page store nothing.
  const Field* FieldOf(const QObject* control) const;

  Ui::GprsPage ui_;
  EditorEvents editors_;
};

}  // namespace lovar
