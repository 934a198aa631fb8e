#pragma once

#include <QObject>

namespace qav::platform {

// Hands the operating system's requests to end the program (SIGTERM, SIGINT and SIGHUP here;
// console close, logoff and shutdown on Windows) to the event loop of the thread that creates
// it, as the signal Requested. One instance at a time; destroying it restores the system's
// default handling.
class TerminationRequests : public QObject {
  Q_OBJECT

 public:
  explicit TerminationRequests(QObject* parent = nullptr);
  ~TerminationRequests() override;

 signals:
  void Requested();

 private:
  void Drain();
};

}  // namespace qav::platform
