#include "platform/DiaryError.h"

namespace velmora {

const char *DiaryError::what() const noexcept {
    try {
        m_what = message().toUtf8();
    } catch (...) {
        return "velmora::DiaryError";
    }
    return m_what.constData();
}

} // namespace velmora
