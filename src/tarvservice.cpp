#include "src/tarvservice.h"

void CTarvService::NotifyStatus(const ipc::MNetStatus& status)
{
    // The sender gets its own copy: the caller's message may change while
    // the notification is on its way.
    const ipc::MNetStatus copy(status);
    mStatusSender(copy);
}
