#include "carddav/Password.h"

#include <qt6keychain/keychain.h>

#include <QEventLoop>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <cstdlib>

namespace pv::carddav {
namespace {

constexpr const char* kService = "vcard-parvela";

// Without a session bus there is no Secret Service and no KWallet: asking would only wait.
bool SessionBusLikely() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return runtime != nullptr && *runtime != '\0' &&
         QFileInfo::exists(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus"));
}

// Runs the job and waits for it at most timeoutMs. False on a timeout: the job is left to end by
// itself and deletes itself then.
bool RunJob(QKeychain::Job* job, int timeoutMs) {
  QEventLoop loop;
  QTimer timer;
  timer.setSingleShot(true);
  bool ended = false;
  QObject::connect(job, &QKeychain::Job::finished, &loop, [&] {
    ended = true;
    loop.quit();
  });
  QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
  job->setAutoDelete(false);
  job->start();
  timer.start(timeoutMs);
  if (!ended) loop.exec();
  if (!ended) {
    QObject::disconnect(job, nullptr, &loop, nullptr);
    job->setAutoDelete(true);
  }
  return ended;
}

}  // namespace

QString KeyringKey(const QString& url, const QString& user) {
  return QStringLiteral("carddav:%1@%2").arg(user, url);
}

QString ReadPassword(const QString& url, const QString& user, QString* problem, int timeoutMs) {
  const QByteArray fromEnv = qgetenv(PasswordVariable);
  if (!fromEnv.isEmpty()) return QString::fromUtf8(fromEnv);
  if (!SessionBusLikely()) {
    if (problem) *problem = QStringLiteral("kein Schlüsselbund erreichbar (keine D-Bus-Sitzung)");
    return {};
  }
  auto* job = new QKeychain::ReadPasswordJob(QString::fromUtf8(kService));
  job->setKey(KeyringKey(url, user));
  job->setInsecureFallback(false);
  if (!RunJob(job, timeoutMs)) {
    if (problem) *problem = QStringLiteral("der Schlüsselbund antwortet nicht");
    return {};
  }
  QString password;
  if (job->error() == QKeychain::NoError) {
    password = job->textData();
  } else if (problem) {
    *problem = job->errorString();
  }
  delete job;
  return password;
}

bool StorePassword(const QString& url, const QString& user, const QString& password,
                   QString* problem, int timeoutMs) {
  if (!SessionBusLikely()) {
    if (problem) *problem = QStringLiteral("Kein Schlüsselbund erreichbar (keine D-Bus-Sitzung).");
    return false;
  }
  auto* job = new QKeychain::WritePasswordJob(QString::fromUtf8(kService));
  job->setKey(KeyringKey(url, user));
  job->setInsecureFallback(false);
  job->setTextData(password);
  if (!RunJob(job, timeoutMs)) {
    if (problem) *problem = QStringLiteral("Der Schlüsselbund antwortet nicht.");
    return false;
  }
  const bool ok = job->error() == QKeychain::NoError;
  if (!ok && problem) *problem = QStringLiteral("Schlüsselbund: %1").arg(job->errorString());
  delete job;
  return ok;
}

}  // namespace pv::carddav
