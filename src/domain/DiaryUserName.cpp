#include "domain/DiaryUserName.h"

#include <QTextBoundaryFinder>

namespace velmora {

QString boundedUserName(const QString &name) {
    if (name.size() <= userNameMaximumLength)
        return name;
    // Whether the limit is a boundary depends only on the characters around it.
    const QString head = name.left(userNameMaximumLength + 1);
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, head);
    finder.setPosition(int(userNameMaximumLength));
    qsizetype end = finder.isAtBoundary() ? userNameMaximumLength : finder.toPreviousBoundary();
    if (end <= 0) {
        // One "character" longer than the limit (a letter under endless marks): cut between
        // code points instead.
        end = userNameMaximumLength;
        if (head.at(end - 1).isHighSurrogate())
            --end;
    }
    return head.left(end);
}

} // namespace velmora
