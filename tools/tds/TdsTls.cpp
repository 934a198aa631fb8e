#include "tools/tds/TdsTls.h"

#include "tools/tds/TdsPacket.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <cerrno>
#include <ctime>
#include <stdexcept>

namespace qav::tds {

namespace {

// A client that stops in the middle of its handshake is given this long.
constexpr int kHandshakeWaitMs = 30000;

void Check(int rc, const char* what) {
  if (rc < 0) throw std::runtime_error(std::string(what) + ": " + gnutls_strerror(rc));
}

bool SocketSend(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool SocketReadExactly(int fd, char* data, std::size_t size) {
  while (size > 0) {
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kHandshakeWaitMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

std::shared_ptr<TlsCredentials> TlsCredentials::FromFiles(const QString& certificate,
                                                          const QString& key) {
  std::shared_ptr<TlsCredentials> c(new TlsCredentials);
  gnutls_certificate_credentials_t cred = nullptr;
  Check(gnutls_certificate_allocate_credentials(&cred), "TLS credentials");
  c->credentials_ = cred;
  Check(gnutls_certificate_set_x509_key_file(cred, certificate.toLocal8Bit().constData(),
                                             key.toLocal8Bit().constData(), GNUTLS_X509_FMT_PEM),
        "certificate and key");
  gnutls_datum_t data{};
  if (gnutls_load_file(certificate.toLocal8Bit().constData(), &data) == 0) {
    c->pem_.assign(reinterpret_cast<const char*>(data.data), data.size);
    gnutls_free(data.data);
  }
  return c;
}

std::shared_ptr<TlsCredentials> TlsCredentials::SelfSigned() {
  std::shared_ptr<TlsCredentials> c(new TlsCredentials);
  gnutls_x509_privkey_t key = nullptr;
  gnutls_x509_crt_t crt = nullptr;
  struct Free {
    gnutls_x509_privkey_t& key;
    gnutls_x509_crt_t& crt;
    ~Free() {
      if (crt) gnutls_x509_crt_deinit(crt);
      if (key) gnutls_x509_privkey_deinit(key);
    }
  } free{key, crt};
  Check(gnutls_x509_privkey_init(&key), "key");
  // An elliptic-curve key takes a moment to make, where RSA would hold up every start.
  Check(gnutls_x509_privkey_generate(key, GNUTLS_PK_ECDSA,
                                     GNUTLS_CURVE_TO_BITS(GNUTLS_ECC_CURVE_SECP256R1), 0),
        "key");
  Check(gnutls_x509_crt_init(&crt), "certificate");
  Check(gnutls_x509_crt_set_version(crt, 3), "certificate");
  const std::time_t now = std::time(nullptr);
  const unsigned char serial[8] = {0x01,
                                   static_cast<unsigned char>(now >> 24),
                                   static_cast<unsigned char>(now >> 16),
                                   static_cast<unsigned char>(now >> 8),
                                   static_cast<unsigned char>(now),
                                   0,
                                   0,
                                   1};
  Check(gnutls_x509_crt_set_serial(crt, serial, sizeof serial), "certificate");
  Check(gnutls_x509_crt_set_activation_time(crt, now - 3600), "certificate");
  Check(gnutls_x509_crt_set_expiration_time(crt, now + 10L * 365 * 86400), "certificate");
  static const char kName[] = "localhost";
  Check(gnutls_x509_crt_set_dn_by_oid(crt, GNUTLS_OID_X520_COMMON_NAME, 0, kName, sizeof kName - 1),
        "certificate");
  Check(gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_DNSNAME, kName, sizeof kName - 1,
                                             GNUTLS_FSAN_APPEND),
        "certificate");
  const unsigned char loopback[4] = {127, 0, 0, 1};
  Check(gnutls_x509_crt_set_subject_alt_name(crt, GNUTLS_SAN_IPADDRESS, loopback, sizeof loopback,
                                             GNUTLS_FSAN_APPEND),
        "certificate");
  Check(gnutls_x509_crt_set_key(crt, key), "certificate");
  Check(gnutls_x509_crt_set_key_usage(crt, GNUTLS_KEY_DIGITAL_SIGNATURE), "certificate");
  Check(gnutls_x509_crt_set_key_purpose_oid(crt, GNUTLS_KP_TLS_WWW_SERVER, 0), "certificate");
  Check(gnutls_x509_crt_sign2(crt, crt, key, GNUTLS_DIG_SHA256, 0), "certificate");

  gnutls_certificate_credentials_t cred = nullptr;
  Check(gnutls_certificate_allocate_credentials(&cred), "TLS credentials");
  c->credentials_ = cred;
  Check(gnutls_certificate_set_x509_key(cred, &crt, 1, key), "TLS credentials");
  gnutls_datum_t pem{};
  Check(gnutls_x509_crt_export2(crt, GNUTLS_X509_FMT_PEM, &pem), "certificate");
  c->pem_.assign(reinterpret_cast<const char*>(pem.data), pem.size);
  gnutls_free(pem.data);
  return c;
}

TlsCredentials::~TlsCredentials() {
  if (credentials_)
    gnutls_certificate_free_credentials(
        static_cast<gnutls_certificate_credentials_t>(credentials_));
}

TlsLink::TlsLink(int fd, const TlsCredentials& credentials) : fd_(fd) {
  gnutls_session_t s = nullptr;
  // No session tickets: they would follow the handshake, where a client that encrypts only its
  // login does not look for them.
  Check(gnutls_init(&s, GNUTLS_SERVER | GNUTLS_NO_TICKETS), "TLS session");
  session_ = s;
  // TDS 7 clients wrap at most TLS 1.2 in PRELOGIN packets, as SQL Server offers it.
  Check(gnutls_priority_set_direct(s, "NORMAL:-VERS-TLS1.3", nullptr), "TLS priorities");
  Check(gnutls_credentials_set(s, GNUTLS_CRD_CERTIFICATE, credentials.Handle()), "TLS session");
  gnutls_certificate_server_set_request(s, GNUTLS_CERT_IGNORE);
  gnutls_transport_set_ptr(s, this);
  gnutls_transport_set_push_function(
      s, [](gnutls_transport_ptr_t self, const void* data, size_t size) -> ssize_t {
        return Push(self, data, size);
      });
  gnutls_transport_set_pull_function(
      s, [](gnutls_transport_ptr_t self, void* data, size_t size) -> ssize_t {
        return Pull(self, data, size);
      });
}

TlsLink::~TlsLink() {
  if (session_) gnutls_deinit(static_cast<gnutls_session_t>(session_));
}

bool TlsLink::Handshake() {
  const auto s = static_cast<gnutls_session_t>(session_);
  int rc;
  do {
    rc = gnutls_handshake(s);
  } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
  // The last flight (or the alert that ends a failed handshake) still waits in out_.
  const bool sent = FlushHandshake();
  inPreLogin_ = false;
  return rc == 0 && sent;
}

bool TlsLink::FlushHandshake() {
  if (out_.empty()) return true;
  const QByteArray packets = FrameMessage(PacketType::PreLogin, out_, kDefaultPacketSize, 0);
  out_.clear();
  return SocketSend(fd_, packets.constData(), static_cast<std::size_t>(packets.size()));
}

std::ptrdiff_t TlsLink::Push(void* self, const void* data, std::size_t size) {
  auto* link = static_cast<TlsLink*>(self);
  if (link->inPreLogin_) {
    // Held until the client is to answer, so that a flight goes as one PRELOGIN message.
    link->out_.append(static_cast<const char*>(data), size);
    return static_cast<std::ptrdiff_t>(size);
  }
  if (!SocketSend(link->fd_, static_cast<const char*>(data), size)) {
    gnutls_transport_set_errno(static_cast<gnutls_session_t>(link->session_), EPIPE);
    return -1;
  }
  return static_cast<std::ptrdiff_t>(size);
}

std::ptrdiff_t TlsLink::Pull(void* self, void* data, std::size_t size) {
  auto* link = static_cast<TlsLink*>(self);
  const auto session = static_cast<gnutls_session_t>(link->session_);
  if (!link->inPreLogin_) {
    for (;;) {
      const ssize_t n = ::recv(link->fd_, data, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) gnutls_transport_set_errno(session, errno);
      return n;
    }
  }
  if (link->in_.empty()) {
    if (!link->FlushHandshake()) {
      gnutls_transport_set_errno(session, EPIPE);
      return -1;
    }
    // The client's handshake bytes, one PRELOGIN packet at a time.
    char raw[kHeaderSize];
    if (!SocketReadExactly(link->fd_, raw, kHeaderSize)) return 0;
    // Read here rather than by ParseHeader, whose exception must not cross GnuTLS.
    const int length =
        (static_cast<unsigned char>(raw[2]) << 8) | static_cast<unsigned char>(raw[3]);
    if (static_cast<PacketType>(raw[0]) != PacketType::PreLogin || length < kHeaderSize) return 0;
    std::string body(static_cast<std::size_t>(length - kHeaderSize), '\0');
    if (!SocketReadExactly(link->fd_, body.data(), body.size())) return 0;
    link->in_ = std::move(body);
    if (link->in_.empty()) {
      gnutls_transport_set_errno(session, EAGAIN);
      return -1;
    }
  }
  const std::size_t n = std::min(size, link->in_.size());
  link->in_.copy(static_cast<char*>(data), n);
  link->in_.erase(0, n);
  return static_cast<std::ptrdiff_t>(n);
}

std::ptrdiff_t TlsLink::Receive(char* data, std::size_t size) {
  const auto s = static_cast<gnutls_session_t>(session_);
  for (;;) {
    const ssize_t n = gnutls_record_recv(s, data, size);
    if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
    return n < 0 ? 0 : n;
  }
}

bool TlsLink::Pending() const {
  return gnutls_record_check_pending(static_cast<gnutls_session_t>(session_)) > 0;
}

bool TlsLink::SendAll(const char* data, std::size_t size) {
  const auto s = static_cast<gnutls_session_t>(session_);
  while (size > 0) {
    const ssize_t n = gnutls_record_send(s, data, size);
    if (n == GNUTLS_E_AGAIN || n == GNUTLS_E_INTERRUPTED) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace qav::tds
