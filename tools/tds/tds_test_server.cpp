// tds-test-server --suite FOLDER --port N [--user NAME --password TEXT]
//                 [--certificate FILE --key FILE | --no-tls]
// Serves an embedded suite to SQL Server clients on 127.0.0.1 until interrupted. Port 0 takes
// any free port; the first line of standard output is "PORT n" either way. Clients that
// encrypt get TLS with a certificate made at start for localhost (or the PEM files named);
// --no-tls offers none, as a server without a certificate.
#include "tools/tds/TdsServer.h"
#include "tools/tds/TdsTls.h"

#include <pthread.h>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  qav::tds::ServerOptions options;
  long port = -1;
  bool tls = true;
  QString certificate, key;
  bool usage = false;
  for (int i = 1; i < argc; ++i) {
    const char* name = argv[i];
    if (std::strcmp(name, "--no-tls") == 0) {
      tls = false;
      continue;
    }
    if (i + 1 >= argc) {
      usage = true;
      break;
    }
    const QString value = QString::fromLocal8Bit(argv[++i]);
    if (std::strcmp(name, "--suite") == 0)
      options.suiteFolder = QFileInfo(value).absoluteFilePath();
    else if (std::strcmp(name, "--port") == 0)
      port = value.toLong();
    else if (std::strcmp(name, "--user") == 0)
      options.user = value;
    else if (std::strcmp(name, "--password") == 0)
      options.password = value;
    else if (std::strcmp(name, "--certificate") == 0)
      certificate = value;
    else if (std::strcmp(name, "--key") == 0)
      key = value;
    else
      usage = true;
  }
  if (usage || options.suiteFolder.isEmpty() || port < 0 || port > 65535 ||
      certificate.isEmpty() != key.isEmpty() || (!tls && !certificate.isEmpty())) {
    std::fprintf(stderr,
                 "usage: %s --suite FOLDER --port N [--user NAME --password TEXT]\n"
                 "       [--certificate FILE --key FILE | --no-tls]\n",
                 argv[0]);
    return 2;
  }
  if (!QFileInfo(options.suiteFolder).isDir()) {
    std::fprintf(stderr, "no suite folder: %s\n", qPrintable(options.suiteFolder));
    return 1;
  }
  try {
    if (!certificate.isEmpty())
      options.tls = qav::tds::TlsCredentials::FromFiles(certificate, key);
    else if (tls)
      options.tls = qav::tds::TlsCredentials::SelfSigned();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }

  // The signals that end the server are waited for here, never delivered to a session thread.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  qav::tds::Server server(options);
  try {
    server.Start(static_cast<std::uint16_t>(port));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("PORT %u\n", static_cast<unsigned>(server.Port()));
  std::fflush(stdout);
  int signal = 0;
  sigwait(&stop, &signal);
  server.Stop();
  return 0;
}
