// The main window's stand-in for the silent command-line export: no widget, no message; closing
// it ends the event loop.
#pragma once

#include <QCoreApplication>

#include "app/MainFrm.h"

namespace pv {

class THeadlessView : public TMainView {
 public:
  bool OnlyChanges() const override { return true; }
  bool AsAnsi() const override { return asAnsi_; }
  void SetAsAnsi(bool value) override { asAnsi_ = value; }
  void SetRunning(bool) override {}
  void ShowMessage(const std::string&) override {}
  std::string AskOutputFile() override { return {}; }
  void Close() override { QCoreApplication::quit(); }

 private:
  bool asAnsi_ = true;
};

}  // namespace pv
