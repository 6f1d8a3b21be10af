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
// short, else its first and last sixty UTF-16 units (never half a character) around an ellipsis.
// A message box takes minutes to lay out millions of characters, and a file can hold that many
// where a message quotes it.
//
// Nor may the value reshape the message around it. Characters that would break its line, end
// its text early or turn the direction of the words after it are shown as escapes, as a JSON
// string writes them: line feed, carriage return and tab as "\n", "\r" and "\t"; the other C0
// controls, DEL, the C1 controls, the line and paragraph separators U+2028 and U+2029, and the
// embeddings, overrides and isolates U+202A-U+202E and U+2066-U+2069 as "\u" and four upper-case
// hex digits ("\u0000", "\u202E"). A backslash of the value stays as it is: the escapes are
// for reading, not for parsing back. They are made after the cut, so an excerpt holds at most
// seven characters for each unit of the value. The marks LRM, RLM and ALM stay: they are
// common in right-to-left names, and what they turn stays inside the value's isolate.
//
// A value with right-to-left letters or digits is set in a first-strong isolate (U+2068 ...
// U+2069), so it reads in its own direction without reordering the words around it, and each
// escape in it follows an LRM, so it reads "\u202E" there too. Other values are left as they
// are: among left-to-right words nothing could move, and their messages stay exactly as written.
QString shownExcerpt(const QString &value);

} // namespace velmora
