// unique_ptr ownership for OpenSSL objects (OpenSslPtr<X509, X509_free>) and error texts.
#pragma once

#include <memory>
#include <string>

template <auto Free>
struct OpenSslFree {
    template <typename T>
    void operator()(T* object) const {
        Free(object);
    }
};

template <typename T, auto Free>
using OpenSslPtr = std::unique_ptr<T, OpenSslFree<Free>>;

// OpenSSL's text for the oldest queued error of this thread (the cause); empties the queue.
std::string take_openssl_error_text();
