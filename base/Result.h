#pragma once

#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace dravix {

// What went wrong, as the text the user or the log gets to read.
struct Error {
    std::string text;
};

// A value, or the error that kept it from being made. A result must be looked at: dropping one
// unread drops a failure unseen.
//
//   Result<Bytes> ReadAll(const std::string& path);
//   if (const Result<Bytes> read = ReadAll(path); !read) return read.Failure();
template <typename T>
class [[nodiscard]] Result final {
  public:
    Result(T value) : m_state(std::move(value)) {}
    Result(Error error) : m_state(std::move(error)) {}

    bool Ok() const { return std::holds_alternative<T>(m_state); }
    explicit operator bool() const { return Ok(); }

    // Only when Ok.
    const T& Value() const& { return std::get<T>(m_state); }
    T& Value() & { return std::get<T>(m_state); }
    T&& Value() && { return std::get<T>(std::move(m_state)); }
    const T& operator*() const& { return Value(); }
    const T* operator->() const { return &Value(); }

    // Only when not Ok.
    const Error& Failure() const { return std::get<Error>(m_state); }
    // The error's text; empty when Ok.
    std::string ErrorText() const { return Ok() ? std::string() : Failure().text; }

  private:
    std::variant<T, Error> m_state;
};

// Done, or the error that stopped it.
template <>
class [[nodiscard]] Result<void> final {
  public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)) {}

    bool Ok() const { return !m_error.has_value(); }
    explicit operator bool() const { return Ok(); }

    // Only when not Ok.
    const Error& Failure() const { return *m_error; }
    // The error's text; empty when Ok.
    std::string ErrorText() const { return m_error ? m_error->text : std::string(); }

  private:
    std::optional<Error> m_error;
};

}  // namespace dravix
