#pragma once

#include <QString>
#include <cstddef>
#include <memory>
#include <string>

namespace qav::tds {

// The server's certificate and key: a self-signed one made at start for "localhost" and
// 127.0.0.1, or one read from PEM files. Shared read-only by every connection.
class TlsCredentials {
 public:
  // Raises std::runtime_error when the files cannot be read or do not match.
  static std::shared_ptr<TlsCredentials> FromFiles(const QString& certificate, const QString& key);
  static std::shared_ptr<TlsCredentials> SelfSigned();
  ~TlsCredentials();
  TlsCredentials(const TlsCredentials&) = delete;
  TlsCredentials& operator=(const TlsCredentials&) = delete;

  // The certificate in PEM form, for clients that are to check it.
  const std::string& CertificatePem() const { return pem_; }
  void* Handle() const { return credentials_; }

 private:
  TlsCredentials() = default;
  void* credentials_ = nullptr;  // gnutls_certificate_credentials_t
  std::string pem_;
};

// TLS over a client's socket. The handshake travels inside PRELOGIN packets, as TDS 7 carries
// it; after it, records go straight over the socket. One thread may receive while another
// sends, as the session's reader and writer do.
class TlsLink {
 public:
  TlsLink(int fd, const TlsCredentials& credentials);
  ~TlsLink();
  TlsLink(const TlsLink&) = delete;
  TlsLink& operator=(const TlsLink&) = delete;

  // False when the client does not complete the handshake (it left, it sent no TLS, or the
  // two sides share no cipher).
  bool Handshake();
  // Reads what the next record holds, up to `size` bytes: 0 once the client has gone.
  std::ptrdiff_t Receive(char* data, std::size_t size);
  // True when received plaintext waits, so that the socket may have nothing more to say.
  bool Pending() const;
  bool SendAll(const char* data, std::size_t size);

 private:
  static std::ptrdiff_t Push(void* self, const void* data, std::size_t size);
  static std::ptrdiff_t Pull(void* self, void* data, std::size_t size);
  bool FlushHandshake();

  int fd_;
  void* session_ = nullptr;  // gnutls_session_t
  bool inPreLogin_ = true;   // handshake records go inside PRELOGIN packets
  std::string in_, out_;     // handshake bytes taken from packets, and those to be sent
};

}  // namespace qav::tds
