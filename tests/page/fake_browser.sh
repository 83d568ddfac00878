#!/bin/sh
# A stand-in browser for the launch tests: appends the time it started, its
# program name and each argument (one per line) to $FAKE_BROWSER_LOG, then
# waits while the file named by $FAKE_BROWSER_HOLD exists, and exits.
log=${FAKE_BROWSER_LOG:-/dev/null}
{
  echo "started $(date +%s%N)"
  echo "argv0 $0"
  for a in "$@"; do echo "arg $a"; done
} >> "$log"
if [ -n "$FAKE_BROWSER_HOLD" ]; then
  while [ -e "$FAKE_BROWSER_HOLD" ]; do sleep 0.1; done
fi
exit 0
