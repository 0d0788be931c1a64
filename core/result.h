// Success-or-error-text results: fallible operations return one of these instead of throwing.
#pragma once

#include <string>
#include <utility>
#include <variant>

// Success, or a one-line human-readable error text.
class [[nodiscard]] Status {
  public:
    static Status success() { return Status(); }
    static Status failure(std::string text) { return Status(std::move(text)); }

    bool ok() const { return !failed_; }
    const std::string& error() const { return error_; }

  private:
    Status() = default;
    explicit Status(std::string text) : failed_(true), error_(std::move(text)) {}
    bool failed_ = false;
    std::string error_;
};

// A value, or a one-line human-readable error text.
template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : data_(std::in_place_index<0>, std::move(value)) {}
    static Result failure(std::string text) { return Result(Failure{std::move(text)}); }

    bool ok() const { return data_.index() == 0; }
    T& value() { return std::get<0>(data_); }
    const T& value() const { return std::get<0>(data_); }
    const std::string& error() const { return std::get<1>(data_).text; }

  private:
    struct Failure {
        std::string text;
    };
    explicit Result(Failure f) : data_(std::in_place_index<1>, std::move(f)) {}
    std::variant<T, Failure> data_;
};
