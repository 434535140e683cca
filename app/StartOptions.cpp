#include "app/StartOptions.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace pv {
namespace {

constexpr const char* kHelp =
    "Aufruf:\n"
    "  vcard-parvela                          \xC3\xB6"
    "ffnet das Fenster\n"
    "  vcard-parvela AUTO <Datenbankordner> <Datei> [--vcard=3.0|--vcard=4.0] [--utf8|--ansi]\n"
    "                                         schreibt die vCard-Datei ohne Fenster\n"
    "                                         (keine grafische Anzeige n\xC3\xB6tig)\n"
    "  vcard-parvela SYNC <Datenbankordner> <Adresse> [--user NAME] [--vcard=3.0|4.0]\n"
    "                [--addressbook NAME]     sendet die \xC3\x84nderungen an ein "
    "Online-Adressbuch\n"
    "                                         (CardDAV; vcard-parvela SYNC --help)\n"
    "  vcard-parvela -h | --help              zeigt diese Hilfe\n"
    "  vcard-parvela -V | --version           zeigt die Version\n"
    "\n"
    "AUTO liest <Datenbankordner>/Parvela.sqlite und schreibt jede Adresse mit einer\n"
    "E-Mail-Adresse oder Telefonnummer als vCard in <Datei>.\n"
    "  --vcard=4.0   vCard 4.0 (Vorgabe)\n"
    "  --vcard=3.0   vCard 3.0\n"
    "  --utf8        in UTF-8\n"
    "  --ansi        in Windows-1252 (nicht mit --vcard=3.0)\n"
    "  Ohne --utf8 und --ansi gilt die im Fenster zuletzt gew\xC3\xA4hlte Einstellung "
    "\"Als ANSI\".\n"
    "\n"
    "Exit-Status: 0 Datei geschrieben oder nichts Neues, 1 Ausfuhr fehlgeschlagen (der Grund\n"
    "steht auf der Standardfehlerausgabe), 2 falscher Aufruf.\n"
    "Einstellungen: $TMPDIR/PVTempDir/vcard/UserMode.INI (ohne TMPDIR: ~/.cache/PVTempDir/...).\n"
    "Mehr: man vcard-parvela\n";

constexpr const char* kNoDisplay =
    "vcard-parvela: Keine grafische Anzeige gefunden, das Fenster kann nicht ge\xC3\xB6"
    "ffnet "
    "werden "
    "(ohne Fenster: vcard-parvela AUTO <Ordner> <Datei>) / No display found, cannot open the "
    "window (without a window: vcard-parvela AUTO <folder> <file>)\n";

std::string Env(const TStartEnvironment& env, const char* name) {
  const char* value = env.getenv ? env.getenv(name) : nullptr;
  return value ? std::string(value) : std::string();
}

bool X11Available(const TStartEnvironment& env) {
  const std::string display = Env(env, "DISPLAY");
  const std::size_t colon = display.rfind(':');
  if (colon == std::string::npos) return false;
  const std::string host = display.substr(0, colon);
  if (!host.empty() && host != "unix") return true;  // a remote or launcher display: on trust
  const std::string number = display.substr(colon + 1, display.find('.', colon) - colon - 1);
  if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos) return false;
  const std::string socket = "/tmp/.X11-unix/X" + number;
  return env.socketAccepts && (env.socketAccepts("@" + socket) || env.socketAccepts(socket));
}

bool WaylandAvailable(const TStartEnvironment& env) {
  const std::string name = Env(env, "WAYLAND_DISPLAY");
  if (name.empty() || !env.socketAccepts) return false;
  if (name.front() == '/') return env.socketAccepts(name);
  const std::string runtime = Env(env, "XDG_RUNTIME_DIR");
  return !runtime.empty() && env.socketAccepts(runtime + "/" + name);
}

bool LocalSocketAccepts(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
  std::memcpy(address.sun_path, path.data(), path.size());
  socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size());
  if (path.front() == '@') {
    address.sun_path[0] = '\0';  // the abstract namespace
  } else {
    length += 1;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

std::string HelpText() { return kHelp; }

std::string VersionText() { return std::string("vcard-parvela ") + PV_VERSION + "\n"; }

TStartEnvironment SystemStartEnvironment() {
  return {[](const char* name) -> const char* { return std::getenv(name); }, LocalSocketAccepts};
}

bool DisplayAvailable(const TStartEnvironment& env) {
  std::string platform = Env(env, "QT_QPA_PLATFORM");
  platform = platform.substr(0, platform.find_first_of(";:"));
  if (platform == "xcb") return X11Available(env);
  if (platform.starts_with("wayland")) return WaylandAvailable(env);
  if (!platform.empty()) return true;  // offscreen, vnc, eglfs ...: no display server needed
  return X11Available(env) || WaylandAvailable(env);
}

int HandleStartOptions(int argc, char** argv, const TStartEnvironment& env, std::FILE* out,
                       std::FILE* err) {
  const std::string_view first = argc > 1 ? std::string_view(argv[1]) : std::string_view();
  if (first == "--help" || first == "-h") {
    std::fputs(kHelp, out);
    return 0;
  }
  if (first == "--version" || first == "-V") {
    std::fputs(VersionText().c_str(), out);
    return 0;
  }
  if (first != "AUTO" && first != "SYNC" && !DisplayAvailable(env)) {
    std::fputs(kNoDisplay, err);
    return 1;
  }
  return -1;
}

}  // namespace pv
