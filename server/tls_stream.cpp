#include "server/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "server/openssl_handles.h"
#include "server/tls_identity.h"

void SslFree::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}

namespace {

// OpenSSL reads and writes through this BIO, so every socket call of the TLS layer goes
// through TimedSocket and obeys the connection's deadline.
TimedSocket& timed_socket_of(BIO* bio) {
    return *static_cast<TimedSocket*>(BIO_get_data(bio));
}

int bio_read(BIO* bio, char* buffer, size_t size, size_t* read_count) {
    BIO_clear_retry_flags(bio);
    const std::ptrdiff_t n = timed_socket_of(bio).receive(buffer, size);
    if (n <= 0) {
        // A time-out is a read to retry, not a broken connection: OpenSSL would otherwise
        // refuse every later write, and the answer to a short body could never go out.
        if (n == 0) {
            BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
        } else {
            BIO_set_retry_read(bio);
        }
        *read_count = 0;
        return 0;
    }
    *read_count = static_cast<size_t>(n);
    return 1;
}

int bio_write(BIO* bio, const char* data, size_t size, size_t* written) {
    BIO_clear_retry_flags(bio);
    const std::ptrdiff_t n = timed_socket_of(bio).send(data, size);
    if (n <= 0) {
        *written = 0;
        return 0;
    }
    *written = static_cast<size_t>(n);
    return 1;
}

long bio_ctrl(BIO* bio, int command, long, void*) {
    switch (command) {
        case BIO_CTRL_FLUSH:
            return 1;
        case BIO_CTRL_EOF:
            return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) ? 1 : 0;
        default:
            return 0;
    }
}

using BioMethodPtr = OpenSslPtr<BIO_METHOD, BIO_meth_free>;

BioMethodPtr new_timed_socket_method() {
    BioMethodPtr method(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "timed socket"));
    if (method && BIO_meth_set_read_ex(method.get(), bio_read) &&
        BIO_meth_set_write_ex(method.get(), bio_write) &&
        BIO_meth_set_ctrl(method.get(), bio_ctrl)) {
        return method;
    }
    return nullptr;
}

const BIO_METHOD* timed_socket_method() {
    static const BioMethodPtr method = new_timed_socket_method();
    return method.get();
}

}  // namespace

Result<std::unique_ptr<TlsStream>> TlsStream::open(const TlsServerConfig& config,
                                                   TimedSocket& socket) {
    using Out = Result<std::unique_ptr<TlsStream>>;
    auto stream = std::make_unique<TlsStream>(socket);
    stream->ssl_.reset(SSL_new(config.context.get()));
    const BIO_METHOD* method = timed_socket_method();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!stream->ssl_ || !bio) {
        BIO_free(bio);
        return Out::failure(take_openssl_error_text());
    }
    BIO_set_data(bio, &socket);
    BIO_set_init(bio, 1);
    SSL_set_bio(stream->ssl_.get(), bio, bio);  // the SSL owns the BIO from here
    SSL_set_accept_state(stream->ssl_.get());
    return stream;
}

std::ptrdiff_t TlsStream::read(char* buffer, size_t size) {
    if (failed_) return -1;
    size_t count = 0;
    if (SSL_read_ex(ssl_.get(), buffer, size, &count) == 1)
        return static_cast<std::ptrdiff_t>(count);
    const int error = SSL_get_error(ssl_.get(), 0);
    ERR_clear_error();
    if (error == SSL_ERROR_ZERO_RETURN) return 0;
    if (error != SSL_ERROR_WANT_READ) failed_ = true;  // "want read" is a time-out
    return -1;
}

Status TlsStream::write_all(std::string_view bytes) {
    if (failed_) return Status::failure("TLS connection failed earlier");
    // Without SSL_MODE_ENABLE_PARTIAL_WRITE a successful write has written everything.
    size_t written = 0;
    if (bytes.empty()) return Status::success();
    if (SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written) == 1) {
        answered_ = true;
        return Status::success();
    }
    failed_ = true;
    return Status::failure("TLS write failed: " + take_openssl_error_text());
}

void TlsStream::close_notify() {
    // OpenSSL forbids a shutdown after a fatal error; before the handshake there is no session.
    if (failed_ || !SSL_is_init_finished(ssl_.get())) return;
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
}
