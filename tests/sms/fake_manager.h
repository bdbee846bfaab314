// Stands in for the SMS manager where the outbox is tested or measured on its
// own: each send takes the next scripted outcome, Sent once the script is
// done. What the outbox calls is defined here, so the library's manager (and
// the modem) is never linked.
#pragma once

#include <string>
#include <vector>

#include "sms_manager.h"

extern std::vector<SendOutcome> fake_outcomes;
// Every send as "number text", unless fake_keep_tried is false.
extern std::vector<std::string> fake_tried;
extern bool fake_keep_tried;
extern long fake_sends;
