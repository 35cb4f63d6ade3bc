# Bash completion for vkr and vkr-pack, installed under both names. The
# commands and options come from the tools' own --help, so that they follow
# the tools as they change.

# The words of `tool` (COMP_WORDS[0]) for `command`: its commands when
# `command` is empty, else the command's options.
_vkr_words() {
  local tool=$1 command=$2
  if [[ -z $command ]]; then
    "$tool" --help 2>/dev/null | awk '/^commands:/ { on = 1; next } on && /^$/ { exit } on { print $1 }'
    printf '%s\n' help --help --version
  else
    "$tool" "$command" --help 2>/dev/null |
      awk '/^  -/ { for (i = 1; i <= NF && $i ~ /^-/; i++) { sub(/,$/, "", $i); if (!seen[$i]++) print $i } }'
    printf '%s\n' --help
  fi
}

_vkr_complete() {
  local current=${COMP_WORDS[COMP_CWORD]} previous=${COMP_WORDS[COMP_CWORD - 1]} command=
  COMPREPLY=()
  if ((COMP_CWORD > 1)); then
    command=${COMP_WORDS[1]}
  fi
  if [[ $command == help ]]; then
    ((COMP_CWORD == 2)) && mapfile -t COMPREPLY < <(compgen -W "$(_vkr_words "${COMP_WORDS[0]}" "")" -- "$current")
    return
  fi
  if ((COMP_CWORD == 1)) || [[ $current == -* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "$(_vkr_words "${COMP_WORDS[0]}" "$command")" -- "$current")
    return
  fi
  # The two actions of 'vkr game', once its options allow them.
  if [[ $command == game && $previous != -* && " ${COMP_WORDS[*]:2:COMP_CWORD-2} " != *" ls "* &&
        " ${COMP_WORDS[*]:2:COMP_CWORD-2} " != *" fetch "* ]]; then
    mapfile -t COMPREPLY < <(compgen -W "ls fetch" -- "$current")
  fi
  # Anything else is a file, a folder or a value: bash's own completion (-o default).
}

complete -o default -F _vkr_complete vkr vkr-pack
