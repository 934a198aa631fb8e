// tds-test-server --suite FOLDER --port N [--user NAME --password TEXT]
// Serves an embedded suite to SQL Server clients on 127.0.0.1 until interrupted. Port 0 takes
// any free port; the first line of standard output is "PORT n" either way.
#include "tools/tds/TdsServer.h"

#include <pthread.h>
#include <QDir>
#include <QFileInfo>
#include <csignal>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  qav::tds::ServerOptions options;
  long port = -1;
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* key = argv[i];
    const QString value = QString::fromLocal8Bit(argv[i + 1]);
    if (std::strcmp(key, "--suite") == 0)
      options.suiteFolder = QFileInfo(value).absoluteFilePath();
    else if (std::strcmp(key, "--port") == 0)
      port = value.toLong();
    else if (std::strcmp(key, "--user") == 0)
      options.user = value;
    else if (std::strcmp(key, "--password") == 0)
      options.password = value;
    else
      port = -2;
  }
  if (options.suiteFolder.isEmpty() || port < 0 || port > 65535 || argc % 2 == 0) {
    std::fprintf(stderr, "usage: %s --suite FOLDER --port N [--user NAME --password TEXT]\n",
                 argv[0]);
    return 2;
  }
  if (!QFileInfo(options.suiteFolder).isDir()) {
    std::fprintf(stderr, "no suite folder: %s\n", qPrintable(options.suiteFolder));
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
