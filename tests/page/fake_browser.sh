#!/bin/sh
# A stand-in browser: logs to $FAKE_BROWSER_LOG when it started, its name and
# arguments, stays a second, logs whether its last argument (the page) is
# still there, and fails (a browser that ran, not one that handed over).
{
  echo "started $(date +%s%N)"
  echo "argv0 $0"
  for a in "$@"; do echo "arg $a"; done
  sleep 1
  for last in "$@"; do :; done
  if [ -e "$last" ]; then echo "page present"; else echo "page gone"; fi
} >> "$FAKE_BROWSER_LOG"
exit 3
