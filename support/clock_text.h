// Local date and time texts for logs, records and replies.
#pragma once

// Each fills buf (at least 11, 9 or 20 bytes) and returns 0.
int get_date_str(char* buf);
int get_time_str(char* buf);
int get_datetime_str(char* buf);
