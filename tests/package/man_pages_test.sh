#!/usr/bin/env bash
# The manual pages oa-cleanup(1) and oa-store(1) against what they describe. Each renders without
# a warning (man and groff). Each option a program's --help prints, each command of oa-store with
# its arguments and options, each environment variable the settings read and each key of the
# configuration file has an entry of its own (a .TP or .TQ tag, its dashes written \-) in the
# page's section for it. The options come from the programs and the variables and keys from the
# source, so that one added without an entry fails here.
# Usage: man_pages_test.sh OA_CLEANUP OA_STORE SOURCE_DIR
set -euo pipefail
cleanup_bin=$1
store_bin=$2
source_dir=$3
cleanup_page=$source_dir/packaging/man/oa-cleanup.1
store_page=$source_dir/packaging/man/oa-store.1
readonly skipped=77

if ! command -v man >/dev/null 2>&1; then
  echo "man pages test: man is not installed; skipped"
  exit $skipped
fi

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
problems=0
problem() {
  echo "man pages test: $*" >&2
  problems=$((problems + 1))
}

# Rendering: no warning from man (at its own settings) nor from groff with every warning on.
unset MANOPT MANPAGER PAGER MANROFFOPT
for page in "$cleanup_page" "$store_page"; do
  name=$(basename "$page")
  if ! LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" >"$tmp/$name.txt" 2>"$tmp/$name.err"; then
    problem "man $name failed: $(cat "$tmp/$name.err")"
  elif [ -s "$tmp/$name.err" ]; then
    problem "man $name warns: $(cat "$tmp/$name.err")"
  fi
  if ! groff -man -ww -z "$page" >"$tmp/$name.groff" 2>&1 || [ -s "$tmp/$name.groff" ]; then
    problem "groff -man -ww warns on $name: $(cat "$tmp/$name.groff")"
  fi
done

# A page's entries, one a line: section, subsection and the tag's words, separated by tabs. Font
# escapes and quotes are dropped; \- becomes "-" while a bare "-" does not, so that an option
# written with a bare hyphen (a typographic hyphen in UTF-8 output) has no entry.
entries() {
  awk '
    function clean(s) {
      gsub(/\\f[BIRP]/, "", s)
      gsub(/\\[&:c]/, "", s)
      gsub(/\\-/, "\001", s)
      gsub(/-/, "\002", s)
      gsub(/\001/, "-", s)
      gsub(/"/, "", s)
      return s
    }
    function words(s,   n, w, i, out) {
      n = split(clean(s), w, /[][ ,|=]+/)
      out = ""
      for (i = 1; i <= n; i++) if (w[i] != "") out = out (out == "" ? "" : " ") w[i]
      return out
    }
    /^\.\\"/ { next }
    /^\.SH/ { sub(/^\.SH[ \t]*/, ""); section = words($0); subsection = ""; tag = 0; next }
    /^\.SS/ { sub(/^\.SS[ \t]*/, ""); subsection = words($0); tag = 0; next }
    /^\.(TP|TQ)/ { tag = 1; next }
    tag { tag = 0; sub(/^\.[A-Z]+[ \t]*/, ""); print section "\t" subsection "\t" words($0) }
  ' "$1"
}
entries "$cleanup_page" >"$tmp/cleanup.entries"
entries "$store_page" >"$tmp/store.entries"

# has_entry ENTRIES SECTION_RE SUBSECTION_RE WORD [FIRST]: an entry in a matching section has WORD
# among its tag's words (FIRST: as its first word).
has_entry() {
  awk -F '\t' -v sec="$2" -v subsec="$3" -v word="$4" -v first="${5:-}" '
    $1 ~ sec && $2 ~ subsec {
      n = split($3, w, " ")
      for (i = 1; i <= (first ? 1 : n); i++) if (w[i] == word) found = 1
    }
    END { exit found ? 0 : 1 }
  ' "$1"
}
# The words of the tag whose first word is WORD, in a matching section.
tag_words() {
  awk -F '\t' -v sec="$2" -v word="$3" '$1 ~ sec { split($3, w, " "); if (w[1] == word) print $3 }' "$1"
}

# The options and positionals a CLI11 --help lists, one a line. An option line starts with two
# blanks and a dash; a wrapped description starts further in.
help_options() {
  grep -E '^  -' "$1" | sed -E 's/^  ([^ ]+).*/\1/' | tr ',' '\n' | grep -E '^-' | sort -u
}
help_block() {
  awk -v title="$2" '/^[^ ].*:$/ { inside = ($0 == title ":") ; next } inside && /^  [^ ]/ { print $1 }' "$1"
}
run_help() {
  local out=$1
  shift
  if ! "$@" --help >"$out" 2>&1; then
    problem "$* --help failed: $(cat "$out")"
    return 1
  fi
}

# oa-cleanup: every option in OPTIONS.
if run_help "$tmp/cleanup.help" "$cleanup_bin"; then
  help_options "$tmp/cleanup.help" >"$tmp/cleanup.options"
  [ "$(wc -l <"$tmp/cleanup.options")" -ge 10 ] ||
    problem "oa-cleanup --help lists too few options: $(cat "$tmp/cleanup.help")"
  while read -r option; do
    has_entry "$tmp/cleanup.entries" '^OPTIONS$' '' "$option" ||
      problem "oa-cleanup.1 has no entry for $option under OPTIONS"
  done <"$tmp/cleanup.options"
fi

# oa-store: its own options in OPTIONS; each command an entry in COMMANDS whose tag names the
# command's arguments, and the command's options in OPTIONS or COMMANDS.
if run_help "$tmp/store.help" "$store_bin"; then
  help_options "$tmp/store.help" >"$tmp/store.options"
  [ -s "$tmp/store.options" ] || problem "oa-store --help lists no options: $(cat "$tmp/store.help")"
  while read -r option; do
    has_entry "$tmp/store.entries" '^OPTIONS$' '' "$option" ||
      problem "oa-store.1 has no entry for $option under OPTIONS"
  done <"$tmp/store.options"
  help_block "$tmp/store.help" Subcommands >"$tmp/store.commands"
  [ -s "$tmp/store.commands" ] || problem "oa-store --help lists no commands: $(cat "$tmp/store.help")"
  while read -r command; do
    if ! has_entry "$tmp/store.entries" '^COMMANDS$' '' "$command" first; then
      problem "oa-store.1 has no entry for the command $command under COMMANDS"
    fi
    run_help "$tmp/store.$command.help" "$store_bin" "$command" || continue
    read -r -a tag <<<"$(tag_words "$tmp/store.entries" '^COMMANDS$' "$command")"
    while read -r positional; do
      [[ " ${tag[*]-} " == *" $positional "* ]] ||
        problem "oa-store.1: the entry of $command does not name its argument $positional"
    done < <(help_block "$tmp/store.$command.help" Positionals)
    while read -r option; do
      has_entry "$tmp/store.entries" '^(OPTIONS|COMMANDS)$' '' "$option" ||
        problem "oa-store.1 has no entry for $command $option"
    done < <(help_options "$tmp/store.$command.help")
  done <"$tmp/store.commands"
fi

# Every variable the settings read, in oa-cleanup(1)'s ENVIRONMENT: the all-capital string
# literals of the files that read the environment (each lookup names its variable by one).
readers=("$source_dir/console/configuration.cpp")
while read -r file; do readers+=("$file"); done < <(
  grep -lE 'getenv|\benv_?\(' "$source_dir"/settings/*.cpp "$source_dir"/settings/*.h)
grep -ohE '"[A-Z][A-Z0-9_]*"' "${readers[@]}" | tr -d '"' | sort -u >"$tmp/variables"
grep -qx OA_STORE_DIR "$tmp/variables" ||
  problem "no variables found in ${readers[*]}; has the way they are read changed?"
while read -r variable; do
  has_entry "$tmp/cleanup.entries" '^ENVIRONMENT$' '' "$variable" first ||
    problem "oa-cleanup.1 has no entry for the variable $variable under ENVIRONMENT"
done <"$tmp/variables"

# Every key of the configuration file (the table of known keys in settings/config.cpp), in
# oa-cleanup(1)'s CONFIGURATION FILE under a subsection [section].
grep -oE '\{"[a-z]+", *"[a-z-]+", *(true|false)\}' "$source_dir/settings/config.cpp" |
  sed -E 's/\{"([a-z]+)", *"([a-z-]+)".*/\1 \2/' | sort -u >"$tmp/keys"
grep -qx 'store directory' "$tmp/keys" ||
  problem "no configuration keys found in settings/config.cpp; has their table changed?"
while read -r section key; do
  has_entry "$tmp/cleanup.entries" '^CONFIGURATION FILE$' "^$section\$" "$key" first ||
    problem "oa-cleanup.1 has no entry for the key $key under CONFIGURATION FILE, [$section]"
done <"$tmp/keys"

# The sections a reader looks for.
for page in oa-cleanup.1 oa-store.1; do
  for section in NAME SYNOPSIS DESCRIPTION OPTIONS "EXIT STATUS" ENVIRONMENT FILES EXAMPLES \
    "SEE ALSO"; do
    grep -qx "$section" "$tmp/$page.txt" || problem "$page has no section $section"
  done
done

if [ $problems -gt 0 ]; then
  echo "man pages test: $problems problem(s)" >&2
  exit 1
fi
echo "man pages test: both pages render cleanly and document" \
  "$(wc -l <"$tmp/cleanup.options") options of oa-cleanup, $(wc -l <"$tmp/store.commands")" \
  "commands of oa-store, $(wc -l <"$tmp/variables") variables and $(wc -l <"$tmp/keys") keys"
