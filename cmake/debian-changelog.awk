# debian-changelog.awk: CHANGELOG.md in the format of a Debian changelog, for
# usr/share/doc/<package>/changelog.gz.
#
#   awk -v source=NAME -v version=VERSION -v maintainer="NAME <MAIL>" \
#       -v unreleased_date=YYYY-MM-DD -f debian-changelog.awk CHANGELOG.md
#
# Each "## X.Y.Z - YYYY-MM-DD" section becomes an entry for unstable of that
# date; "## Unreleased", when it lists anything, becomes the first entry,
# VERSION+unreleased for UNRELEASED, dated unreleased_date (by default the
# newest release's date, so that the same text always gives the same bytes).
# "### Part" headings become "  Part:", list items "  * ..." and paragraphs
# "  ...", all rewrapped to at most 80 columns. The text before the first
# "## " heading (the file's title and introduction) is left out.

function wrap(text, first, rest,    n, words, i, line, out) {
  n = split(text, words, /[ \t]+/)
  line = first
  out = ""
  for (i = 1; i <= n; i++) {
    if (words[i] == "") continue
    if (line != first && line != rest && length(line) + 1 + length(words[i]) > 80) {
      out = out line "\n"
      line = rest
    }
    line = (line == first || line == rest) ? line words[i] : line " " words[i]
  }
  return out line "\n"
}

function rfc2822(day,    cmd, r) {
  cmd = "date -u -R -d '" day " 00:00'"
  r = ""
  cmd | getline r
  close(cmd)
  if (r == "") { print "debian-changelog.awk: bad date " day > "/dev/stderr"; failed = 1; exit 1 }
  return r
}

# The list item or paragraph being collected goes into the entry's body.
function end_item() {
  if (item != "") body = body wrap(item, item_first, item_rest)
  item = ""
}

function end_entry() {
  end_item()
  if (entry_version != "" && body != "") {
    n_entries++
    entries[n_entries] = source " (" entry_version ") " entry_dist "; urgency=medium\n\n" body \
      "\n -- " maintainer "  " entry_day "\n"
  }
  entry_version = ""
  body = ""
}

/^## / {
  end_entry()
  heading = substr($0, 4)
  if (heading ~ /^Unreleased/) {
    entry_version = version "+unreleased"
    entry_dist = "UNRELEASED"
    entry_day = "UNRELEASED-DATE"
  } else if (heading ~ /^[0-9][0-9.]* - [0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
    split(heading, part, " - ")
    entry_version = part[1]
    entry_dist = "unstable"
    entry_day = rfc2822(part[2])
    if (newest_release == "") newest_release = part[2]
  } else {
    print "debian-changelog.awk: heading without version and date: " $0 > "/dev/stderr"
    failed = 1
    exit 1
  }
  next
}
entry_version == "" { next }
/^### / { end_item(); body = body (body == "" ? "" : "\n") "  " substr($0, 5) ":\n"; next }
/^- / { end_item(); item = substr($0, 3); item_first = "  * "; item_rest = "    "; next }
/^[ \t]*$/ { end_item(); next }
{
  if (item == "") { item = $0; item_first = "  "; item_rest = "  " }
  else item = item " " $0
}

END {
  if (failed) exit 1
  end_entry()
  if (unreleased_date == "") unreleased_date = newest_release
  for (i = 1; i <= n_entries; i++) {
    if (entries[i] ~ /UNRELEASED-DATE/) sub(/UNRELEASED-DATE/, rfc2822(unreleased_date), entries[i])
    printf "%s%s", (i > 1 ? "\n" : ""), entries[i]
  }
}
