#!/bin/bash
# SPDX-License-Identifier: MIT
# The bash completion of both programs, loaded into bash as bash-completion
# loads it and called on command lines as bash calls it. It offers every
# option the programs' usage texts list (for the lab, per command), the words
# the programs take, and what it offers as a word of its own (help, version)
# the programs answer with status 0.
# Usage: completion_test.sh COMPLETIONS-DIR PACELAG PACELAG-LAB
set -u
export LC_ALL=C
dir=$1 pacelag=$2 lab=$3
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# shellcheck source=/dev/null
source "$dir/pacelag" || fail "pacelag's completion does not load"
# shellcheck source=/dev/null
source "$dir/pacelag-lab" || fail "pacelag-lab's completion does not load"
[[ $(complete -p pacelag 2>&1) == "complete -F _pacelag pacelag" ]] ||
    fail "pacelag: $(complete -p pacelag 2>&1)"
[[ $(complete -p pacelag-lab 2>&1) == "complete -F _pacelag_lab pacelag-lab" ]] ||
    fail "pacelag-lab: $(complete -p pacelag-lab 2>&1)"

# complete WORD...: what the completion offers for the last word, sorted, on
# one line; it runs in a subshell as bash would run it, from the scratch folder.
complete_line() {
    (
        COMP_WORDS=("$@")
        COMP_CWORD=$((${#COMP_WORDS[@]} - 1))
        COMP_LINE="$*"
        COMP_POINT=${#COMP_LINE}
        fn=_pacelag
        [[ $1 == pacelag-lab ]] && fn=_pacelag_lab
        $fn
        printf '%s\n' "${COMPREPLY[@]}" | sort | tr '\n' ' ' | sed 's/ $//'
    )
}

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/runs" "$tmp/run two" "$tmp/other"
touch "$tmp/ready.csv" "$tmp/run.log"
# Host names come from this file alone.
printf '127.0.0.1 labhost.example labhost\n192.0.2.1 lane\n' >"$tmp/hosts"
export HOSTFILE=$tmp/hosts
cd "$tmp" || exit 1

# A command line (words separated by |, the last one being typed) and what
# the completion must offer for it.
while IFS='>' read -r line want; do
    [[ -n $line ]] || continue
    IFS='|' read -r -a words <<<"$line"
    [[ $line == *'|' ]] && words+=("")
    got=$(complete_line "${words[@]}")
    [[ $got == "$want" ]] || fail "'$line': offered '$got', not '$want'"
done <<'EOF'
pacelag|-m>-mode
pacelag|-MODE|>client server
pacelag|-mode|S>server
pacelag|-mode|client|-host|la>labhost labhost.example lane
pacelag|-rate|>
pacelag|-mode|server|-rate|10|-p>-padlen -port
pacelag|--h>--help
pacelag|-h|-v>-version
pacelag|-someday|>
pacelag-lab|>--help --version -h -version help report run sweep watch
pacelag-lab|r>report run
pacelag-lab|watch|-c>-csv
pacelag-lab|watch|-csv|r>ready.csv run two run.log runs
pacelag-lab|watch|-port|5000|-q>-quiet
pacelag-lab|run|-out|r>run two runs
pacelag-lab|run|-vary>
pacelag-lab|run|-remote|user@labhost.>user@labhost.example
pacelag-lab|run|-remote|lan>lane
pacelag-lab|run|-delay|>
pacelag-lab|run|-loopback|-remote-l>-remote-lab
pacelag-lab|sweep|-vary|>buflen client-rate link-rate padlen server-rate
pacelag-lab|sweep|-vary|S>server-rate
pacelag-lab|sweep|-value>-values
pacelag-lab|sweep|-remote-p>-remote-pacelag
pacelag-lab|report|r>run two runs
pacelag-lab|report|runs|>
pacelag-lab|frobnicate|->
EOF

# names: the option names in the text on standard input, one a line.
names() { tr ' []' '\n\n\n' | grep -E '^-[a-z][a-z-]*$' | sort -u; }
# offered WORD...: the option names offered after these words, one a line.
offered() { complete_line "$@" - | tr ' ' '\n' | sort -u; }

# Every option pacelag's usage lists is offered.
usage=$("$pacelag" -h)
listed=$(printf '%s\n' "$usage" | sed -n 's/^  \(-[a-z]*\) .*/\1/p' | sort -u)
[[ $(printf '%s\n' "$listed" | wc -l) -ge 6 ]] || fail "pacelag's usage lists too few options"
missing=$(comm -23 <(printf '%s\n' "$listed") <(offered pacelag))
[[ -z $missing ]] || fail "pacelag's completion lacks" $missing

# Every option pacelag-lab's usage lists for a command is offered for it; a
# sweep takes the run options too. The usage gives each command a line of its
# own, continued on lines indented further.
labusage=$("$lab" -h | awk '/^  pacelag-lab / { c = $2 } /^  pacelag-lab / || /^   / { print c ":" $0 }')
usage_of() { printf '%s\n' "$labusage" | sed -n "s/^$1://p" | names; }
[[ $(usage_of run | wc -l) -ge 10 ]] || fail "pacelag-lab's usage lists too few run options"
for command in watch run sweep; do
    listed=$(usage_of "$command")
    [[ $command == sweep ]] && listed=$(printf '%s\n%s\n' "$listed" "$(usage_of run)" | sort -u)
    missing=$(comm -23 <(printf '%s\n' "$listed") <(offered pacelag-lab "$command"))
    [[ -z $missing ]] || fail "pacelag-lab $command: completion lacks" $missing
done
vary=$(printf '%s\n' "$labusage" | sed -n 's/.*-vary \([a-z|-]*\).*/\1/p' | tr '|' ' ')
[[ $(complete_line pacelag-lab sweep -vary "") == "$(printf '%s\n' $vary | sort | tr '\n' ' ' | sed 's/ $//')" ]] ||
    fail "-vary: completion offers '$(complete_line pacelag-lab sweep -vary "")', usage has '$vary'"

# What is offered as a word of its own is answered, with status 0.
for word in -h -help --help -version --version; do
    "$pacelag" "$word" >/dev/null 2>&1 || fail "pacelag $word: status $?"
done
for word in help -h --help -version --version; do
    "$lab" "$word" >/dev/null 2>&1 || fail "pacelag-lab $word: status $?"
done
[[ $("$lab" --version) == "pacelag-lab $("$pacelag" --version | cut -d' ' -f2)" ]] ||
    fail "the two programs' versions differ: $("$lab" --version), $("$pacelag" --version)"

[[ $failures -eq 0 ]] || exit 1
echo "completion checked"
