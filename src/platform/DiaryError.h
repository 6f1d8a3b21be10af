#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace velmora {

// Base of every error the diary shows to the user. message() is the exact text the user sees;
// what() is its UTF-8 form for logs and test output.
class DiaryError : public std::exception {
public:
    DiaryError() = default;
    DiaryError(const DiaryError &) = default;
    DiaryError &operator=(const DiaryError &) = default;
    ~DiaryError() override = default;

    virtual QString message() const = 0;
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

} // namespace velmora
