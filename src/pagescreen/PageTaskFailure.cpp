#include "pagescreen/PageTaskFailure.h"

#include "pagescreen/PageScreenLogging.h"
#include "platform/Cancellation.h"
#include "platform/DiaryError.h"

#include <QCoreApplication>

namespace velmora {

bool isCancellation(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CancellationError &) {
        return true;
    } catch (...) {
        return false;
    }
}

QString describePageFailure(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DiaryError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        qCWarning(lcPageScreen) << "A page task failed with an error of unknown type";
        return QCoreApplication::translate("VuzIvoduPageView", "Please try again.");
    }
}

} // namespace velmora
