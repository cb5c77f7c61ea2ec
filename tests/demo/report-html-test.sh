#!/usr/bin/env bash
# scripts/report-html: what a parent's page must show from the viewer's text, case by case.
#   report-html-test.sh <scripts/report-html>
set -euo pipefail
report_html=$1
failures=0
record() { printf 'Category: %s\nUser: %s\nSummary: %s\nDetails: %s\n\n' "$@"; }
# A record as the viewer prints it with /Stored: its arrival first.
stored_record() { printf 'Stored: %s\n' "$1"; shift; record "$@"; }

# check NAME INPUT EXPECTED: EXPECTED, lines of the page in order (one fixed string a line), must
# appear in that order.
check() {
  local name=$1 input=$2 expected=$3 page position=0 line found
  page=$(printf '%s' "$input" | "$report_html" "Report")
  while IFS= read -r line; do
    [ -n "$line" ] || continue
    found=$(printf '%s\n' "$page" | tail -n +$((position + 1)) | grep -nF -m1 -- "$line" | cut -d: -f1 || true)
    if [ -z "$found" ]; then
      echo "FAILED $name: no \"$line\" after line $position of:" >&2
      printf '%s\n' "$page" >&2
      failures=$((failures + 1))
      return
    fi
    position=$((position + found))
  done <<< "$expected"
  echo "ok $name"
}

# A page never carries the entries' text as markup.
check "text is escaped" \
  "$(record '{X} (Keywords)' 'Kid <b>' 'Keyword "<script>" & more' "it's")" \
  '<h2>Kid &lt;b&gt; <span class="count">(1 entry)</span></h2>
<li>Keyword &quot;&lt;script&gt;&quot; &amp; more <span class="details">it&#39;s</span></li>'

# Users and their categories in the order of their newest entries, each entry list newest first.
check "grouped by user and category, newest first" \
  "$(record '{A} (Internet activity)' Ann old-ann-web d; record '{B} (User accounts)' Bo bo-user d
     record '{C} (Keywords)' Ann ann-keyword d; record '{A} (Internet activity)' Ann new-ann-web d)" \
  '<h2>Ann <span class="count">(3 entries)</span></h2>
<h3>Internet activity <span class="count">(2 entries)</span></h3>
<li>new-ann-web
<li>old-ann-web
<h3>Keywords <span class="count">(1 entry)</span></h3>
<li>ann-keyword
<h2>Bo <span class="count">(1 entry)</span></h2>
<h3>User accounts <span class="count">(1 entry)</span></h3>
<li>bo-user'

# Each entry says when the report log stored it; a record of no user is under "No user".
check "arrival of each entry, no user" \
  "$(stored_record '2026-12-09 10:00:01' '{A} (Internet activity)' '(null)' first d
     stored_record '2026-12-09 10:00:02' '{A} (Internet activity)' Ann second d
     stored_record '2026-12-09 10:00:03' '{A} (Internet activity)' '(null)' third d)" \
  '<h2>No user <span class="count">(2 entries)</span></h2>
<li><span class="stored">2026-12-09 10:00:03</span> third
<li><span class="stored">2026-12-09 10:00:01</span> first
<h2>Ann <span class="count">(1 entry)</span></h2>
<li><span class="stored">2026-12-09 10:00:02</span> second'

check "an empty report log" "" '<p>No entries.</p>'

check "a record without a known category keeps what the viewer says" \
  "$(record '(null)' '(null)' 'Odd' 'x')" \
  '<h2>No user <span class="count">(1 entry)</span></h2>
<h3>(null) <span class="count">(1 entry)</span></h3>'

[ "$failures" -eq 0 ]
