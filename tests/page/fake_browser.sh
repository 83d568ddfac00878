#!/bin/sh
# A stand-in browser for the launch tests: appends the time it started, its
# program name and each argument (one per line) to $FAKE_BROWSER_LOG, then
# waits while the file named by $FAKE_BROWSER_HOLD exists (30 s at most, so
# that a faulty watcher fails a test rather than hanging it); then logs
# whether its last argument (the page) still exists, and exits.
log=${FAKE_BROWSER_LOG:-/dev/null}
{
  echo "started $(date +%s%N)"
  echo "argv0 $0"
  for a in "$@"; do echo "arg $a"; done
} >> "$log"
if [ -n "$FAKE_BROWSER_HOLD" ]; then
  n=0
  while [ -e "$FAKE_BROWSER_HOLD" ] && [ $n -lt 300 ]; do
    sleep 0.1
    n=$((n + 1))
  done
fi
for last in "$@"; do :; done
if [ -e "$last" ]; then echo "page present" >> "$log"; else echo "page gone" >> "$log"; fi
exit 0
