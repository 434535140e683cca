#include "files/Errors.h"

#include "files/AnsiText.h"

namespace pv {

std::string FileFailureText(TFileAction action, const std::string& name, std::string_view reason) {
  static constexpr const char* kActions[] = {
      " kann nicht ge\xF6"
      "ffnet werden",                 // Open
      " kann nicht erstellt werden",  // Create
  };
  std::string text = "Datei " + Utf8ToAnsi(name) + kActions[static_cast<int>(action)];
  if (!reason.empty()) text.append(" (").append(reason).append(")");
  return text;
}

}  // namespace pv
