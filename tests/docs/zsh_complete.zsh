#!/usr/bin/zsh -f
# zsh_complete.zsh DIR OUT LINE...: for the n-th LINE, writes the candidates zsh offers for it
# followed by Tab to the file OUT/n, one per line, using the completion functions found in DIR. zsh completes only inside its line
# editor, so an interactive zsh runs on a pseudo-terminal, and compadd is wrapped to record what
# the completion functions offer.
dir=$1 out=$2
shift 2
zmodload zsh/zpty || exit 2
zpty z zsh -f -i || exit 2
integer step=0
# One command at a time: the next is typed only once the shell has printed this one's marker,
# so nothing typed ahead is lost or cuts a completion short.
run() {
  (( step++ ))
  zpty -w z "$1; print -r -- __STEP''${step}__"
  zpty -r z reply "*__STEP${step}__*" || exit 2
}
run "PROMPT='> '"
run "fpath=(${(q)dir} \$fpath); autoload -Uz compinit; compinit -u -D"
run "zstyle ':completion:*' menu no"
# Calls that only fill arrays (-O, -A, -D) pass through; the others add candidates.
run "compadd () { if [[ \${@[1,(i)(-|--)]} == *-(O|A|D)\\ * ]]; then builtin compadd \"\$@\"; return; fi; local -a __hits; builtin compadd -A __hits \"\$@\"; local r=\$?; (( \$#__hits )) && print -rl -- \$__hits >> \$__out; return \$r; }"
# Tab completes, then prints a marker, so the next keys are sent only after the completion.
run "tab-then-mark () { zle complete-word; zle -I; print -r -- __COMPLE''TED__ }; zle -N tab-then-mark; bindkey '^I' tab-then-mark"
integer n=0
for line in "$@"; do
  (( n++ ))
  run "__out=${(q)out}/$n"
  zpty -w -n z "$line"$'\t'
  zpty -r z reply '*__COMPLETED__*' || exit 2
  run $'\C-u'"true"
done
zpty -d z
