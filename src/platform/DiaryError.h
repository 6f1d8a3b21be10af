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

// A value from outside (a file's text, a name, a path) as a message quotes it: whole when it is
// short, else its beginning and its end around an ellipsis. A message box takes minutes to lay
// out millions of characters, and a file can hold that many where a message quotes it.
QString shownExcerpt(const QString &value);

} // namespace velmora
