// The outbox: every line appended to the spool "/tmp/sms_tosend" sent as a message.
#pragma once

// One pass over the outbox: the refused messages whose next try has come,
// then the batch (the spool taken over) line by line. A line is sent once its
// newline has arrived; a refused one waits in the retry queue without
// holding up the lines behind it.
void sendmessage();
