# bash completion for zarn-parse and zarn-serve. The options are read from
# the program's own --help the first time they are needed, so they never
# fall behind the program.
_zarn_complete() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=''
  [ "$COMP_CWORD" -gt 0 ] && prev=${COMP_WORDS[COMP_CWORD - 1]}
  local program=$1
  case $prev in
    -i | --input | -o | --output | -d | --database)
      compopt -o filenames 2>/dev/null
      mapfile -t COMPREPLY < <(compgen -f -- "$cur")
      return ;;
    -f | --format) mapfile -t COMPREPLY < <(compgen -W 'table tsv csv jsonl' -- "$cur"); return ;;
    -p | --profile) mapfile -t COMPREPLY < <(compgen -W 'specified canada' -- "$cur"); return ;;
    --standard-language) mapfile -t COMPREPLY < <(compgen -W 'en fr detect' -- "$cur"); return ;;
    --encoding) mapfile -t COMPREPLY < <(compgen -W 'utf-8 cp1252 latin-1' -- "$cur"); return ;;
    --delimiter) mapfile -t COMPREPLY < <(compgen -W ', ; tab |' -- "$cur"); return ;;
  esac
  if [[ $cur == -* ]]; then
    local key=_zarn_options_${program//[^A-Za-z0-9]/_}
    if [ -z "${!key:-}" ]; then
      printf -v "$key" '%s' "$("$program" --help 2>/dev/null | grep -oE -- '(^|[ ,])--?[A-Za-z][A-Za-z0-9-]*' |
        sed 's/^[ ,]//' | sort -u | tr '\n' ' ')"
    fi
    mapfile -t COMPREPLY < <(compgen -W "${!key}" -- "$cur")
  else
    compopt -o filenames 2>/dev/null
    mapfile -t COMPREPLY < <(compgen -f -- "$cur")
  fi
}
complete -F _zarn_complete zarn-parse zarn-serve
