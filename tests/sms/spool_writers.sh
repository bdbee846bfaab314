#!/bin/sh
# Three writers of the outbox spool at once, as router programs write it:
# one appends a line in two `>>` pieces 6 s apart, one holds the spool open,
# pauses mid-line and writes its last line 30 s later, one appends whole
# lines. No writer writes while another is mid-line, so every line is whole
# in what was written. Lines 13900000001 to 13900000008; ends after 50 s.
s="${ROUTER_ROOT:?}/tmp/sms_tosend"
( printf '13900000004,' >> "$s"; sleep 6; printf 'two appends\n' >> "$s" ) &
( sleep 8; exec 3>>"$s"; printf '13900000001,held whole\n' >&3; sleep 2
  printf '13900000002,held' >&3; sleep 4; printf ' in two\n' >&3; sleep 30
  printf '13900000003,held late\n' >&3; sleep 2 ) &
( sleep 16; for i in 5 6 7; do echo "1390000000$i,whole $i" >> "$s"; sleep 1; done
  sleep 31; echo '13900000008,whole 8' >> "$s" ) &
wait
