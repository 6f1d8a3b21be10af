// The handwriting step of a pass, between the pages and the profile.
#include "sync/DiaryCloudSync.h"

namespace velmora {

QCoro::Task<bool> DiaryCloudSync::reconcileInk(const DiaryCloudSyncFolder &, Manifest &) {
    // Drawings are not exchanged yet: no drawing file moves and the drawing marks stay as they
    // are.
    co_return false;
}

} // namespace velmora
