#pragma once

#include <QString>

namespace velmora {

// The text as UTF-8 can hold it: every unpaired surrogate becomes U+FFFD, which is what the
// editor shows for it anyway. Text stored this way reads back equal, so a save of unchanged words
// is recognised as unchanged.
QString storableText(const QString &text);

} // namespace velmora
