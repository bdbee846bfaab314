// The outbox spool, the inbox scan and the SMS record journal, for callers
// that want all of them.
#pragma once

#include "sms_inbox.h"
#include "sms_outbox.h"
