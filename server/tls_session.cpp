#include "server/tls_session.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "server/openssl_handles.h"
#include "server/tls_identity.h"

void SslFree::operator()(ssl_st* ssl) const {
    SSL_free(ssl);
}

namespace {

constexpr size_t MAX_GATHERED_BYTES = 64 * 1024;

}  // namespace

// OpenSSL reads and writes the socket through this BIO: "not ready" becomes a retry, and
// every byte moved is counted for the connection's time-outs.
struct TlsSessionBio {
    static TlsSession& session_of(BIO* bio) { return *static_cast<TlsSession*>(BIO_get_data(bio)); }

    static int read(BIO* bio, char* buffer, size_t size, size_t* read_count) {
        BIO_clear_retry_flags(bio);
        TlsSession& session = session_of(bio);
        const std::ptrdiff_t n = receive_bytes(session.socket_, buffer, size);
        *read_count = 0;
        if (n == SOCKET_WOULD_BLOCK) {
            BIO_set_retry_read(bio);
            return 0;
        }
        if (n == 0) BIO_set_flags(bio, BIO_FLAGS_IN_EOF);
        if (n <= 0) return 0;
        *read_count = static_cast<size_t>(n);
        session.socket_bytes_ += *read_count;
        return 1;
    }

    // Gathers the records; only a large answer that the socket does not take fast enough
    // makes OpenSSL wait.
    static int write(BIO* bio, const char* data, size_t size, size_t* written) {
        BIO_clear_retry_flags(bio);
        TlsSession& session = session_of(bio);
        *written = 0;
        if (session.output_.size() - session.output_sent_ >= MAX_GATHERED_BYTES &&
            session.flush() != TlsProgress::done) {
            if (!session.failed_) BIO_set_retry_write(bio);
            return 0;
        }
        session.output_.append(data, size);
        *written = size;
        return 1;
    }

    static long control(BIO* bio, int command, long, void*) {
        switch (command) {
            case BIO_CTRL_FLUSH:
                return 1;
            case BIO_CTRL_EOF:
                return BIO_test_flags(bio, BIO_FLAGS_IN_EOF) ? 1 : 0;
            default:
                return 0;
        }
    }
};

namespace {

using BioMethodPtr = OpenSslPtr<BIO_METHOD, BIO_meth_free>;

BioMethodPtr new_session_bio_method() {
    BioMethodPtr method(BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "tls session"));
    if (method && BIO_meth_set_read_ex(method.get(), TlsSessionBio::read) &&
        BIO_meth_set_write_ex(method.get(), TlsSessionBio::write) &&
        BIO_meth_set_ctrl(method.get(), TlsSessionBio::control)) {
        return method;
    }
    return nullptr;
}

const BIO_METHOD* session_bio_method() {
    static const BioMethodPtr method = new_session_bio_method();
    return method.get();
}

}  // namespace

Result<std::unique_ptr<TlsSession>> TlsSession::open(const TlsServerConfig& config,
                                                     const Socket& socket) {
    using Out = Result<std::unique_ptr<TlsSession>>;
    auto session = std::make_unique<TlsSession>(socket);
    session->ssl_.reset(SSL_new(config.context.get()));
    const BIO_METHOD* method = session_bio_method();
    BIO* bio = method ? BIO_new(method) : nullptr;
    if (!session->ssl_ || !bio) {
        BIO_free(bio);
        return Out::failure(take_openssl_error_text());
    }
    BIO_set_data(bio, session.get());
    BIO_set_init(bio, 1);
    SSL_set_bio(session->ssl_.get(), bio, bio);  // the SSL owns the BIO from here
    // A write cut short by a full socket goes on later from the same bytes.
    SSL_set_mode(session->ssl_.get(), SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    // Whole socket reads instead of one for each record's header and one for its body.
    SSL_set_read_ahead(session->ssl_.get(), 1);
    SSL_set_accept_state(session->ssl_.get());
    return session;
}

TlsProgress TlsSession::progress_after_failure(int ssl_result) {
    const int error = SSL_get_error(ssl_.get(), ssl_result);
    ERR_clear_error();
    switch (error) {
        case SSL_ERROR_WANT_READ:
            // Whatever the client waits for goes out before waiting for the client.
            return flush() == TlsProgress::done ? TlsProgress::want_read : TlsProgress::want_write;
        case SSL_ERROR_WANT_WRITE:
            return TlsProgress::want_write;
        case SSL_ERROR_ZERO_RETURN:
            return TlsProgress::ended;
        default:
            (void)flush();  // the alert that tells the client why, if the socket takes it
            failed_ = true;
            return TlsProgress::failed;
    }
}

TlsProgress TlsSession::flush() {
    while (output_sent_ < output_.size()) {
        const std::ptrdiff_t n =
            send_bytes(socket_, output_.data() + output_sent_, output_.size() - output_sent_);
        if (n == SOCKET_WOULD_BLOCK) return TlsProgress::want_write;
        if (n <= 0) {
            failed_ = true;
            return TlsProgress::failed;
        }
        output_sent_ += static_cast<size_t>(n);
        socket_bytes_ += static_cast<size_t>(n);
    }
    output_.clear();
    output_sent_ = 0;
    return TlsProgress::done;
}

TlsProgress TlsSession::read(char* buffer, size_t size, size_t& count) {
    count = 0;
    if (failed_) return TlsProgress::failed;
    const int result = SSL_read_ex(ssl_.get(), buffer, size, &count);
    return result == 1 ? TlsProgress::done : progress_after_failure(result);
}

TlsProgress TlsSession::write(std::string_view bytes) {
    if (failed_) return TlsProgress::failed;
    if (bytes.empty()) return TlsProgress::done;
    // Without SSL_MODE_ENABLE_PARTIAL_WRITE a successful write has written everything.
    size_t written = 0;
    const int result = SSL_write_ex(ssl_.get(), bytes.data(), bytes.size(), &written);
    return result == 1 ? TlsProgress::done : progress_after_failure(result);
}

bool TlsSession::has_buffered() const {
    return !failed_ && SSL_has_pending(ssl_.get()) == 1;
}

void TlsSession::close_notify() {
    // OpenSSL forbids a shutdown after a fatal error; before the handshake there is no session.
    if (failed_ || !SSL_is_init_finished(ssl_.get())) return;
    SSL_shutdown(ssl_.get());
    ERR_clear_error();
}
